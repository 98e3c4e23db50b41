// The About box (template 100): the product line, a second line and "確定".
// It has no handlers of its own; the window shows it from the template.
#pragma once

#include <cstdint>

#include "app/dialog_window.h"

namespace wxr::app {

class CAboutDlg {
public:
    explicit CAboutDlg(DialogWindow& owner) : owner_(owner) {}

    // Shows the box modally and returns when it is closed, with 1 (its OK button).
    std::intptr_t DoModal();

private:
    DialogWindow& owner_;
};

}  // namespace wxr::app
