#pragma once

#include "UiContext.h"

#include <QStringList>
#include <QWidget>

namespace Widgets {
class StatusRow;
}

// "Security": a read-out of the three local security flags. The components
// behind them are not part of this application, so the flags stay false.
class SecurityPageView : public QWidget {
    Q_OBJECT

public:
    explicit SecurityPageView(const UiContext &context, QWidget *parent = nullptr);

    static QStringList protectedFiles();

private:
    QWidget *createHelperBox();
    QWidget *createExtensionBox();
    QWidget *createSignatureBox();
    void render();

    UiContext m_context;
    Widgets::StatusRow *m_helperStatus = nullptr;
    Widgets::StatusRow *m_watchdog = nullptr;
    Widgets::StatusRow *m_extensionStatus = nullptr;
    QWidget *m_protectedFiles = nullptr;
    Widgets::StatusRow *m_signatureStatus = nullptr;
};
