// SPDX-License-Identifier: Zlib
#pragma once

// The platform a stub runs on, passed as a value to the portable code whose rules differ between
// the two: path separators, where the temporary directory comes from, retries while a virus
// scanner holds a file, the shell's syntax, the status of a run that a signal ended, device names
// among entry names. The stub passes its own platform; the generator passes its stub's, and the
// tests run both sets of rules on one host.
enum class TargetPlatform { Windows, Linux };
