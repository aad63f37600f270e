#pragma once

#include "model/param_table.h"

namespace km27 {

// One lower machine's link as the main window or the command line drives it. All calls on the
// thread of the loop it was made with; what it finds and does it tells its LinkObserver.
class LinkEngine {
 public:
  virtual ~LinkEngine() = default;
  virtual bool LinkUp() const = 0;
  virtual void Start() = 0;          // the window's start-up branch for this model
  // Sends a copy of the programme: what the caller does with its own meanwhile changes nothing.
  virtual void OnDownload(const Programme& programme) = 0;  // button 1012 / F7
  virtual void OnUpload() = 0;                              // button 1011 / F6
  virtual void Stop() = 0;  // exit path, before the parameter file is saved
  // Whether a successful download is read back and compared (on unless the operator chose not).
  virtual void SetVerifyAfterDownload(bool on) = 0;

  // A transfer is under way (a download's read-back counts as its download).
  virtual bool TransferRunning() const = 0;
  virtual bool DownloadRunning() const = 0;
  // The download under way, or the last one, has begun to change the device's programme: the
  // code transmitter acknowledged a block, or the code box's frame was handed to the line. Cut
  // short or failed from then on, the device may hold part of it (or all of it, unconfirmed).
  virtual bool DeviceTouched() const = 0;

  // Searching without a window (km27ctl probe): look at once, without the window's start-up
  // wait; the COM number the device answers on (0 while none does); the looks taken so far, as
  // the model's search rules count them; answers that came back spoiled.
  virtual void SearchNow() {}
  virtual int LinkComPort() const = 0;
  virtual int SearchSteps() const = 0;
  virtual int SpoiledAnswers() const { return 0; }
};

}  // namespace km27
