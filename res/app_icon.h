#pragma once
#include <QIcon>

namespace km27::res {

// Icon 128: the window and About icon.
QIcon AppIcon();

}  // namespace km27::res
