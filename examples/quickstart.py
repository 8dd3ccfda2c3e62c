"""A first look at _kelnor: save an index as its image and restore it.

Builds the image of a two-node index by hand (the root and one child labelled
"é", both carrying one video with count 300), restores it, and shows that the
restored index saves back to the same bytes.
"""

import uuid

from _kelnor import PrefixSearch

video = uuid.UUID(bytes=bytes(range(16)))
image = bytes(
    [2, 0, 1]  # node_shifts: [0, 1]
    + [2, 0] + list("é".encode())  # child_labels: no label, "é"
    + [1, 1]  # child_transitions: [1]
    + [2] + [1, 0xFB, 0x2C, 0x01, 1, 0, 1, 0xFB, 0x2C, 0x01] * 2  # payloads: video 0 x 300
    + [1] + list(video.bytes)  # video_uuids
    + [0]  # video_int_ids: none
    + [0]  # id_mode: UUID
    + [2, 0, 1]  # is_terminal: [False, True]
)

index = PrefixSearch.from_bytes(image)
print(f"restored an index from a {len(image)}-byte image")
print(f"it saves back to the same bytes: {index.to_bytes() == image}")
print(f"video 0 is {video}")
