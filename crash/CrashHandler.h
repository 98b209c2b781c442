// Leaves a minidump beside the program when any thread of the process faults.
#pragma once

// Either argument may be null. Call once, early, on the main thread.
void InstallCrashHandler(const char* reporterPath, const char* appArgument);
