#pragma once

// The working directory at start-up (the device information file is found through it).
extern char g_startDir[260];

// Start-up: remembers the directory, asks which lower machine is served, runs the main window.
class CParamApp {
 public:
  // Returns false always: the process ends when this returns.
  bool InitInstance();
};
