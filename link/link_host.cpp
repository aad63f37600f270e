#include "link/link_host.h"

namespace km27 {

ButtonStates ButtonStatesFor(bool linkUp, bool enable) {
  ButtonStates s;
  if (linkUp) {
    s.enabled.fill(enable);
    s.focusUpload = true;
  } else {
    s.enabled.fill(true);
    s.enabled[kButtonUpload] = false;
    s.enabled[kButtonDownload] = false;
  }
  return s;
}

}  // namespace km27
