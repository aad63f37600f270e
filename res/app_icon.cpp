#include "res/app_icon.h"

#include <QtGlobal>

// The resource lives in a static library, so its registration must be pulled in explicitly.
static void RegisterIconResource() { Q_INIT_RESOURCE(km27); }

namespace km27::res {

QIcon AppIcon() {
  static const bool registered = (RegisterIconResource(), true);
  (void)registered;
  return QIcon(QStringLiteral(":/km27/km27.png"));
}

}  // namespace km27::res
