// The application object: runs the main window once and ends with it.
#pragma once

class Cpublish_taviskApp {
public:
    // Always false: the program ends when its window closes.
    bool InitInstance();
};

extern Cpublish_taviskApp theApp;
