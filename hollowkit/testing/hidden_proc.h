#pragma once

// For a test that the program does without /proc/self/fd (a process that
// cannot see its own descriptors there: /proc mounted without them, or
// covered): in a forked child of a test (runInChild), a mount namespace of
// its own with an empty file system laid over its /proc/<pid>/fd. Needs the
// right to make mount namespaces (root, in a test container); without it
// nothing changes and the test is to be skipped.

namespace hollowkit::testsupport {

// The exit code a child gives when it could not hide its descriptors: the
// parent skips the test.
inline constexpr int kCannotHideProc = 77;

// Hides /proc/self/fd from this process. Single-threaded process only (a
// forked child). False when it could not.
bool hideOwnDescriptorsInProc();

}  // namespace hollowkit::testsupport
