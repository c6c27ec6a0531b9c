#pragma once

#include "PlatformIntegration.h"

// macOS: Launch Services keeps one instance and delivers keelmark:// URLs
// (declared in the bundle's Info.plist) as QFileOpenEvent; a Dock click on
// the running application arrives as an application activation.
class FileOpenEventIntegration : public PlatformIntegration {
    Q_OBJECT

public:
    Role claimInstance(const QStringList &) override { return Role::primary; }
    void startReceiving() override;
    QString lastError() const override { return {}; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
