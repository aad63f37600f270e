#pragma once

namespace km27 {

// Every delay and time limit of both links, in milliseconds. The defaults are the values the
// lower machines are built for; tests use Scaled() to run the same logic faster.
struct LinkTiming {
  // Serial port time limits (code transmitter).
  int readIntervalMs = 50;
  int readTotalPerByteMs = 10;
  int readTotalConstantMs = 6000;
  int writeTotalPerByteMs = 1;
  int writeTotalConstantMs = 100;

  // Code-transmitter exchanges.
  int exchangePauseMs = 20;   // before each write and each read, between monitor cycles
  int identifyPauseMs = 10;   // before the closing identification frame
  int openBreakMs = 100;      // around the 0x03 byte while opening a port
  int openRtsSettleMs = 10;   // after raising RTS

  // Window timers.
  int portScanMs = 800;        // 101 TIMER_PORT_SCAN
  int linkWatchMs = 500;       // 104 TIMER_LINK_WATCH
  int statusResetMs = 5000;    // 105 TIMER_STATUS_RESET
  int uploadTimeoutMs = 2000;  // 109 TIMER_UPLOAD_TIMEOUT
  int linkStartMs = 500;       // 110 TIMER_LINK_START

  // Code-box waits on the window's thread.
  int boxFramePauseMs = 200;     // between 0x55 and the frame
  int boxAcceptWaitMs = 1000;    // after the send event, before judging the download
  int boxSettleMs = 500;         // before the buttons come back after a transfer
  int boxUploadPauseMs = 10;     // after the upload request

  // All values divided by `divisor` (at least 1 ms each, except 0 stays 0).
  LinkTiming Scaled(int divisor) const;
};


}  // namespace km27
