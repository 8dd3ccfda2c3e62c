#include "check.hpp"

#include <cstdio>
#include <cstring>

namespace kelnor::core_test {
namespace {

struct TestCase {
    const char* name;
    TestFunction run;
};

// Function-local, so that registrations from every file's static initialisers
// find it constructed whatever their order.
std::vector<TestCase>& registry() {
    static std::vector<TestCase> tests;
    return tests;
}

int failures_in_current_test = 0;

}  // namespace

Registration::Registration(const char* name, TestFunction run) {
    registry().push_back({name, run});
}

void record_failure(const char* file, int line, const std::string& what) {
    ++failures_in_current_test;
    std::fprintf(stderr, "%s:%d: %s\n", file, line, what.c_str());
}

}  // namespace kelnor::core_test

int main(int argc, char** argv) {
    using namespace kelnor::core_test;
    const char* filter = argc > 1 ? argv[1] : "";
    int run = 0;
    int failed = 0;
    for (const TestCase& test : registry()) {
        if (std::strstr(test.name, filter) == nullptr) continue;
        failures_in_current_test = 0;
        try {
            test.run();
        } catch (const std::exception& escaped) {
            record_failure(test.name, 0, std::string("unexpected exception: ") + escaped.what());
        }
        ++run;
        if (failures_in_current_test > 0) {
            ++failed;
            std::fprintf(stderr, "FAILED %s\n", test.name);
        }
    }
    std::printf("%d tests, %d failed\n", run, failed);
    return failed == 0 && run > 0 ? 0 : 1;
}
