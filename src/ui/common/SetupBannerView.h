#pragma once

#include "UiContext.h"

#include <QWidget>

class QPushButton;

// The one-line setup-mode strip across the top of the wizard and the
// dashboard. Its owner decides when to show it (isSetupMode).
class SetupBannerView : public QWidget {
    Q_OBJECT

public:
    explicit SetupBannerView(const UiContext &context, QWidget *parent = nullptr);

    QPushButton *transferButton() const { return m_transferButton; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPushButton *m_transferButton;
};
