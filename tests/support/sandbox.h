// The entry point of every test: MORV_TEST_MAIN(TestObject) takes the place of QTEST_MAIN and
// QTEST_GUILESS_MAIN (tests/CMakeLists.txt includes this header in each test) and runs the test in
// its sandbox: Qt's test-mode standard locations (settings), no volume of the machine for any
// MountWatcher, temporary folders of its own and no write anywhere else (sandbox.cpp).
#pragma once

#include <QtTest>

#include <functional>

namespace ZovaZode::TestSupport {

// Runs `test` in the sandbox, then removes the sandbox's folders; what `test` returned, or 1 when
// it tried to write outside them (each such call is printed).
int sandboxed(int argc, char **argv, const std::function<int()> &test);
// The sandbox's folder in memory where the machine has one (else on disk); empty outside a test.
QString sandboxFolder(bool memory);
// How many writes the sandbox refused since the last call, forgotten: for a test of the sandbox
// itself, whose refusals must not fail it.
int forgetRefusals();
// Removes `folder` and everything in it, whatever bytes the names hold.
void removeFolder(const QString &folder);

} // namespace ZovaZode::TestSupport

// A QApplication where the test links Qt Widgets, as QTEST_MAIN has it.
#define MORV_TEST_MAIN(TestObject)                                                                           \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        return ZovaZode::TestSupport::sandboxed(argc, argv, [&]() -> int { QTEST_MAIN_IMPL(TestObject) });   \
    }
