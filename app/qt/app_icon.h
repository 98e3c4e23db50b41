// Icon 128: the application's icon.
#pragma once

#include <QIcon>

namespace wxr::app::qt {

// res/wxr7305.png when the build carries it, else a drawn stand-in.
QIcon application_icon();

}  // namespace wxr::app::qt
