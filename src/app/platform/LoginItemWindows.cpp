#include "LoginItem.h"

#include <QDir>
#include <QSettings>

namespace {
const QString kRunKey =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString kValueName = QStringLiteral("KeelMark");
} // namespace

LoginItem::LoginItem(QString configHome, QString program)
    : m_configHome(std::move(configHome))
    , m_program(std::move(program)) {}

bool LoginItem::isEnabled() const {
    return QSettings(kRunKey, QSettings::NativeFormat).contains(kValueName);
}

bool LoginItem::setEnabled(bool on, QString *error) {
    QSettings run(kRunKey, QSettings::NativeFormat);
    if (on)
        run.setValue(kValueName, QStringLiteral("\"%1\" %2")
                                     .arg(QDir::toNativeSeparators(m_program), backgroundOption()));
    else
        run.remove(kValueName);
    run.sync();
    if (run.status() == QSettings::NoError)
        return true;
    if (error)
        *error = QStringLiteral("Windows refused to change the Run entry in the registry.");
    return false;
}
