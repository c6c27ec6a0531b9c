#include "UrlHandlerRegistration.h"

#include <QSettings>

// The installer registers the scheme under the user's classes key; removing
// the program through "Apps & features" is the way to remove it.
namespace UrlHandlerRegistration {

bool remove(const QString &, const QString &, QString *error) {
    QSettings classes(QStringLiteral("HKEY_CURRENT_USER\\Software\\Classes"),
                      QSettings::NativeFormat);
    classes.remove(QStringLiteral("keelmark"));
    classes.sync();
    if (classes.status() == QSettings::NoError)
        return true;
    if (error)
        *error =
            QStringLiteral("The keelmark:// registration in the registry could not be removed.");
    return false;
}

QString packageRemovalCommand(const QString &, const QString &) {
    return {};
}

} // namespace UrlHandlerRegistration
