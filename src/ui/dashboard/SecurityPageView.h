#pragma once

#include "UiContext.h"

#include <QStringList>
#include <QWidget>

class StatusRow;

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
    StatusRow *m_helperStatus = nullptr;
    StatusRow *m_watchdog = nullptr;
    StatusRow *m_extensionStatus = nullptr;
    QWidget *m_protectedFiles = nullptr;
    StatusRow *m_signatureStatus = nullptr;
};
