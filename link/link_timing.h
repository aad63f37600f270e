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

  // Timers on the loop.
  int portScanMs = 800;        // code box: try the next COM port
  int linkWatchMs = 500;       // code box: link watchdog
  int statusResetMs = 5000;    // the window: welcome text back after a transfer
  int uploadTimeoutMs = 2000;  // code box: upload time limit
  int linkStartMs = 500;       // code transmitter: start the link monitor

  // Code-box waits on the window's thread.
  int boxFramePauseMs = 200;     // between 0x55 and the frame
  int boxAcceptWaitMs = 1000;    // after the send event, before judging the download
  int boxSettleMs = 500;         // before the buttons come back after a transfer
  int boxUploadPauseMs = 10;     // after the upload request

  // All values divided by `divisor` (at least 1 ms each, except 0 stays 0).
  LinkTiming Scaled(int divisor) const;

  // The same waits on a line at a terminal server, `allowanceMs` being what the network adds
  // (Port::NetworkAllowanceMs; 0 leaves everything as it is). Read limits get the allowance; the
  // code box's acceptance wait starts once a frame of `boxFrameBytes` can have crossed the far
  // end's 9600-baud line, since the socket takes it long before.
  LinkTiming OverNetwork(int allowanceMs, int boxFrameBytes) const;
};


}  // namespace km27
