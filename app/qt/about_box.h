// The About box, built from template 100.
#pragma once

#include <QDialog>

#include "app/dialog_template.h"

class QPushButton;

namespace wxr::app::qt {

class AboutBox final : public QDialog {
public:
    explicit AboutBox(QWidget* parent);

    const DialogBaseUnits& base_units() const { return units_; }
    QPushButton* ok_button() const { return ok_; }

private:
    DialogBaseUnits units_{};
    QPushButton* ok_ = nullptr;
};

}  // namespace wxr::app::qt
