#pragma once

// In a build with the leak checker, looks for leaks now rather than at exit; elsewhere does
// nothing. Call it at the end of main, once the application object is gone: Qt stops its
// own threads (the D-Bus connection's) as it unloads, and a thread caught halfway through
// its end holds data the checker cannot see from anywhere, so an exit check would blame Qt
// at random.
void CheckForLeaksBeforeExit();
