"""The search page in a real browser: headless Chromium against `kelnor serve --demo`.

A visitor types a misspelt word key by key, sees the suggestion and the video
the index ranks first, picks a suggestion with the arrow keys and Enter, and
the page is photographed at desktop and phone widths for the README.
"""

from __future__ import annotations

import unicodedata

import os
import shutil
from pathlib import Path

import pytest

pytest.importorskip("selenium", reason="selenium is not installed")
pytest.importorskip("uvicorn", reason="the serve extra is not installed")
CHROMIUM = shutil.which("chromium")
CHROMEDRIVER = shutil.which("chromedriver")
pytestmark = pytest.mark.skipif(
    not (CHROMIUM and CHROMEDRIVER),
    reason="needs chromium and chromedriver (apt-get install chromium chromium-driver)",
)

from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.common.exceptions import StaleElementReferenceException  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402
from serve_process import running_server  # noqa: E402

import kelnor  # noqa: E402
from kelnor.server import demo_index  # noqa: E402

# The page's screenshots go to a scratch folder; KELNOR_SCREENSHOTS=docs
# writes them over those of the documentation instead, to refresh them.
DOCS = Path(__file__).resolve().parent.parent / "docs"
MISSPELT = "accomodate"
WAIT_SECONDS = 20


@pytest.fixture(scope="module")
def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu"]:
        options.add_argument(argument)
    options.add_argument("--window-size=1280,800")
    # The driver is Debian's: nothing is downloaded. The browser does not get
    # the sanitizer runtime that a sanitizer run of the suite preloads.
    env = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
    service = Service(executable_path=CHROMEDRIVER, env=env)
    driver = webdriver.Chrome(service=service, options=options)
    try:
        yield driver
    finally:
        driver.quit()


def texts(driver, selector: str) -> list[str]:
    return [element.text for element in driver.find_elements(By.CSS_SELECTOR, selector)]


def wait_for(driver, condition, what: str):
    # Asked every 50 ms rather than the driver's default half second: the page
    # answers a key in a few milliseconds. An answer that arrives while the
    # condition reads the lists replaces their elements: the condition is then
    # read again.
    waiting = WebDriverWait(
        driver,
        WAIT_SECONDS,
        poll_frequency=0.05,
        ignored_exceptions=[StaleElementReferenceException],
    )
    return waiting.until(lambda _: condition(), message=what)


@pytest.fixture(scope="module")
def demo_server():
    """The base URL of `kelnor serve --demo`, shared by the demo's tests."""
    with running_server("--demo") as (base, _):
        yield base


def test_typing_a_misspelt_word_and_choosing_a_suggestion(browser, demo_server, tmp_path):
    index, _ = demo_index()  # the same seed as the server's, so the same index
    suggestions = [term for term, _, _ in index.suggest(MISSPELT)]
    best_video = index.search(MISSPELT)[0][0]
    assert len(suggestions) >= 2

    browser.get(demo_server + "/")
    box = browser.find_element(By.ID, "q")
    for key in MISSPELT:
        box.send_keys(key)
    wait_for(
        browser,
        lambda: texts(browser, "#suggestions .term") == suggestions,
        f"the suggestions for {MISSPELT!r}",
    )
    wait_for(
        browser,
        lambda: texts(browser, "#videos .video-id")[:1] == [f"Video {best_video}"],
        f"the videos for {MISSPELT!r}",
    )
    # The typed part is set apart from the completion.
    typed_part = os.path.commonprefix([suggestions[0], MISSPELT])
    assert texts(browser, "#suggestions .typed")[0] == typed_part
    assert texts(browser, "#suggestions .completion")[0] == suggestions[0][len(typed_part) :]
    assert "ms" in browser.find_element(By.ID, "timing").text

    shots = DOCS if os.environ.get("KELNOR_SCREENSHOTS") == "docs" else tmp_path
    box.send_keys(Keys.ARROW_DOWN, Keys.ARROW_DOWN)
    selected = browser.find_element(By.CSS_SELECTOR, '#suggestions [aria-selected="true"]')
    assert selected.get_attribute("data-term") == suggestions[1]
    browser.save_screenshot(str(shots / "serve_page.png"))
    browser.execute_cdp_cmd(
        "Emulation.setDeviceMetricsOverride",
        {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True},
    )
    browser.save_screenshot(str(shots / "serve_page_phone.png"))
    browser.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

    box.send_keys(Keys.ENTER)
    chosen = suggestions[1]
    wait_for(
        browser,
        lambda: browser.find_element(By.ID, "no-suggestions").text == f"Chosen: {chosen}",
        "the chosen suggestion",
    )
    assert box.get_attribute("value") == chosen
    chosen_best = index.search(chosen)[0][0]
    wait_for(
        browser,
        lambda: texts(browser, "#videos .video-id")[:1] == [f"Video {chosen_best}"],
        "the videos of the chosen suggestion",
    )


def video_names(index, typed: str) -> list[str]:
    """The names the page shows for the videos of `typed` (no catalogue)."""
    return [f"Video {video}" for video, _, _ in index.search(typed)]


def test_esc_closes_the_suggestions_and_keeps_the_text_and_its_videos(browser, demo_server):
    index, _ = demo_index()
    browser.get(demo_server + "/")
    box = browser.find_element(By.ID, "q")
    box.send_keys(MISSPELT)
    wait_for(
        browser,
        lambda: texts(browser, "#suggestions .term")
        == [term for term, _, _ in index.suggest(MISSPELT)],
        f"the suggestions for {MISSPELT!r}",
    )
    wait_for(
        browser,
        lambda: texts(browser, "#videos .video-id") == video_names(index, MISSPELT),
        f"the videos for {MISSPELT!r}",
    )
    box.send_keys(Keys.ESCAPE)
    assert texts(browser, "#suggestions .term") == []
    assert box.get_attribute("value") == MISSPELT
    assert texts(browser, "#videos .video-id") == video_names(index, MISSPELT)
    # Keys and Esc at once: the answer of the search they start, which comes
    # after the Esc, shows its videos and leaves the list closed.
    shorter = MISSPELT[:-3]
    assert video_names(index, shorter) != video_names(index, MISSPELT)
    box.send_keys(Keys.BACKSPACE * 3, Keys.ESCAPE)
    wait_for(
        browser,
        lambda: texts(browser, "#videos .video-id") == video_names(index, shorter),
        f"the videos for {shorter!r}",
    )
    assert texts(browser, "#suggestions .term") == []
    assert box.get_attribute("value") == shorter


def typed_into_the_page(browser, server: str, typed: str, suggestions: list):
    """The search box of a fresh page, once `typed` into it shows `suggestions`."""
    browser.get(server + "/")
    box = browser.find_element(By.ID, "q")
    box.send_keys(typed)
    wait_for(
        browser,
        lambda: texts(browser, "#suggestions .term") == suggestions,
        f"the suggestions for {typed!r}",
    )
    return box


def picked(keys: str, count: int) -> int:
    """The suggestion (0 the first of `count`) that the arrow keys `keys` ("d"
    down, "u" up) pick from none picked: down picks the first, up the last,
    and either goes round at the end of the list."""
    active = None
    for key in keys:
        step = 1 if key == "d" else -1
        active = (0 if step == 1 else count - 1) if active is None else (active + step) % count
    assert active is not None
    return active


@pytest.mark.parametrize("keys", ["u", "uu", "ud", "dddd"])
def test_the_arrow_keys_go_round_the_suggestions(browser, demo_server, keys):
    index, _ = demo_index()
    suggestions = [term for term, _, _ in index.suggest(MISSPELT)]
    box = typed_into_the_page(browser, demo_server, MISSPELT, suggestions)
    box.send_keys(*[Keys.ARROW_DOWN if key == "d" else Keys.ARROW_UP for key in keys])
    selected = browser.find_elements(By.CSS_SELECTOR, '#suggestions [aria-selected="true"]')
    expected = suggestions[picked(keys, len(suggestions))]
    assert [item.get_attribute("data-term") for item in selected] == [expected]


def folded_code_point(c: str) -> str:
    """A code point as the page compares it: decomposed, without marks, in lower case."""
    decomposed = unicodedata.normalize("NFKD", c)
    return "".join(d for d in decomposed if not unicodedata.category(d).startswith("M")).lower()


def split_typed(term: str, typed: str) -> tuple[str, str]:
    """The part of `term` that repeats `typed`, code point by code point
    folded, and the rest."""
    n = 0
    while n < min(len(term), len(typed)) and folded_code_point(term[n]) == folded_code_point(
        typed[n]
    ):
        n += 1
    return term[:n], term[n:]


# Astral letters (a pair of surrogates in the browser's strings), one whose
# lower case is longer than itself, a lower case against an upper, and an
# accent against none.
TERMS = ["😀smile", "😁smirk", "smile", "İstanbul", "istanbul", "Éclair", "eclat"]


@pytest.fixture(scope="module")
def terms_server(tmp_path_factory):
    """The base URL of `kelnor serve` over an index of TERMS, and that index."""
    path = tmp_path_factory.mktemp("terms") / "words.bin"
    index = kelnor.build([(term, video, 1) for video, term in enumerate(TERMS)])
    kelnor.save(index, path)
    with running_server(str(path)) as (base, _):
        yield base, index


@pytest.mark.parametrize("typed", ["😁smi", "İst", "İstan", "istan", "éclai", "ecl"])
def test_the_typed_part_is_set_apart_by_code_points(browser, terms_server, typed):
    base, index = terms_server
    suggestions = [term for term, _, _ in index.suggest(typed)]
    assert len(suggestions) >= 1
    browser.get(base + "/")
    box = browser.find_element(By.ID, "q")
    # The driver types no character outside the basic plane: set the box as typing would.
    browser.execute_script(
        "arguments[0].value = arguments[1];"
        "arguments[0].dispatchEvent(new Event('input'));",
        box,
        typed,
    )
    wait_for(
        browser,
        lambda: texts(browser, "#suggestions .term") == suggestions,
        f"the suggestions for {typed!r}",
    )
    shown = list(
        zip(texts(browser, "#suggestions .typed"), texts(browser, "#suggestions .completion"))
    )
    assert shown == [split_typed(term, typed) for term in suggestions]


# Title words of three videos: "harry scool" is the school video first, by
# the two words it answers, though another Harry video is watched far more.
TITLES = {
    1: ("harry's first day at the new school", 1_000),
    2: ("harry and the hares", 900_000),
    3: ("baking bread with a school class", 15_000),
}


def saved_titles_index(tmp_path) -> Path:
    """An index file of the words of TITLES, one record per word of a title."""
    path = tmp_path / "titles.bin"
    records = [
        (word, video, views)
        for video, (title, views) in TITLES.items()
        for word in title.replace("'", " ").split()
    ]
    kelnor.save(kelnor.build(records), path)
    return path


def test_the_videos_answer_the_words_typed(browser, tmp_path):
    path = saved_titles_index(tmp_path)
    with running_server(str(path)) as (base, _):
        browser.get(base + "/")
        browser.find_element(By.ID, "q").send_keys("harry scool")
        wait_for(
            browser,
            lambda: texts(browser, "#videos .video-id") == ["Video 1", "Video 2", "Video 3"],
            "the school video first",
        )
        assert texts(browser, "#videos .score")[0].startswith("2 words · ")


@pytest.mark.parametrize("typed", ["ZURICH", "zÜri"])
def test_the_demo_page_is_case_and_accent_insensitive(browser, demo_server, typed):
    index, _ = demo_index()
    suggestions = [term for term, _, _ in index.suggest(kelnor.fold(typed))]
    assert suggestions[0] == "Zürich"
    typed_into_the_page(browser, demo_server, typed, suggestions)
    assert texts(browser, "#suggestions .typed")[0] == "Zürich"[: len(typed)]


def test_the_icon_the_page_links_is_served(browser, demo_server):
    browser.get(demo_server + "/")
    answer = browser.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "const icon = document.querySelector('link[rel=icon]');"
        "fetch(icon.href).then((r) => done([icon.href, r.status, r.headers.get('content-type')]));"
    )
    assert answer == [demo_server + "/favicon.ico", 200, "image/svg+xml"]


# A catalogue of the title videos: a title with a link and a thumbnail (on
# a loopback port where nothing listens: an empty frame), a hostile title
# with a link and a thumbnail of another scheme, and video 3 left out.
HOSTILE = "<img src=x onerror=alert(1)>"
THUMBNAIL = "http://127.0.0.1:9/1.png"
CATALOGUE = [
    ("id", "title", "url", "thumbnail"),
    ("1", "Harry's First Day", "https://example.org/1", THUMBNAIL),
    ("2", HOSTILE, "javascript:alert(2)", "javascript:alert(3)"),
]


def test_the_catalogue_gives_titles_links_and_thumbnails_as_text(browser, tmp_path):
    path = saved_titles_index(tmp_path)
    catalogue = tmp_path / "videos.tsv"
    catalogue.write_text("".join("\t".join(row) + "\n" for row in CATALOGUE), encoding="utf-8")
    with running_server(str(path), "--videos", str(catalogue)) as (base, _):
        browser.get(base + "/")
        browser.find_element(By.ID, "q").send_keys("harry scool")
        expected = ["Harry's First Day", HOSTILE, "Video 3"]
        wait_for(browser, lambda: texts(browser, "#videos .video-id") == expected, "the titles")
        links = browser.find_elements(By.CSS_SELECTOR, "#videos .video-id a")
        assert [(a.text, a.get_attribute("href")) for a in links] == [
            ("Harry's First Day", "https://example.org/1")
        ]
        images = browser.find_elements(By.CSS_SELECTOR, "#videos img")
        assert [image.get_attribute("src") for image in images] == [THUMBNAIL]
        # The hostile title is text: no element was made of it.
        assert browser.find_elements(By.CSS_SELECTOR, "#videos .video-id *") == links
