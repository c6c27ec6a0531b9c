// Branch protection on main: the settings are kept as they were PUT, and
// answered in GitHub's response shape.
#include "EmulatorBackend.h"

#include <QJsonDocument>

namespace ghemu {

namespace {

const QString kDoc = QStringLiteral("rest/branches/branch-protection");

QString describe(const QJsonValue &v) {
    if (v.isString())
        return QLatin1Char('"') + v.toString() + QLatin1Char('"');
    if (v.isObject() || v.isArray())
        return QString::fromUtf8(v.isObject()
                                     ? QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact)
                                     : QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    if (v.isDouble())
        return QString::number(v.toDouble());
    return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
}

QString typeError(const QString &property, const QJsonValue &v, const QString &expected) {
    return QStringLiteral("Invalid request.\n\nFor 'properties/%1', %2 is not %3.")
        .arg(property, describe(v), expected);
}

bool isStringArray(const QJsonValue &v) {
    if (!v.isArray())
        return false;
    for (const auto &e : v.toArray()) {
        if (!e.isString())
            return false;
    }
    return true;
}

// Checks the body against GitHub's schema; returns the error message or an
// empty text when the body is acceptable.
QString validateProtection(const QJsonObject &body) {
    static const QStringList required = {"required_status_checks", "enforce_admins",
                                         "required_pull_request_reviews", "restrictions"};
    QStringList missing;
    for (const auto &k : required) {
        if (!body.contains(k))
            missing << QLatin1Char('"') + k + QLatin1Char('"');
    }
    if (!missing.isEmpty())
        return QStringLiteral("Invalid request.\n\n%1 %2 supplied.")
            .arg(missing.join(QStringLiteral(", ")),
                 missing.size() == 1 ? QStringLiteral("wasn't") : QStringLiteral("weren't"));

    const QJsonValue rsc = body.value("required_status_checks");
    if (!rsc.isNull()) {
        if (!rsc.isObject())
            return typeError("required_status_checks", rsc, "an object or null");
        const QJsonObject o = rsc.toObject();
        if (!o.value("strict").isBool())
            return QStringLiteral("Invalid request.\n\n\"strict\" wasn't supplied.");
        if (!o.contains("contexts") && !o.contains("checks"))
            return QStringLiteral("Invalid request.\n\n\"contexts\" wasn't supplied.");
        if (o.contains("contexts") && !isStringArray(o.value("contexts")))
            return typeError("contexts", o.value("contexts"), "an array of strings");
    }
    const QJsonValue enforce = body.value("enforce_admins");
    if (!enforce.isNull() && !enforce.isBool())
        return typeError("enforce_admins", enforce, "a boolean or null");

    const QJsonValue reviews = body.value("required_pull_request_reviews");
    if (!reviews.isNull()) {
        if (!reviews.isObject())
            return typeError("required_pull_request_reviews", reviews, "an object or null");
        const QJsonObject o = reviews.toObject();
        for (const char *k : {"dismiss_stale_reviews", "require_code_owner_reviews",
                              "require_last_push_approval"}) {
            if (o.contains(k) && !o.value(k).isBool())
                return typeError(k, o.value(k), "a boolean");
        }
        if (o.contains("required_approving_review_count")) {
            const QJsonValue c = o.value("required_approving_review_count");
            if (!c.isDouble() || c.toDouble() != double(c.toInt()))
                return typeError("required_approving_review_count", c, "an integer");
            if (c.toInt() < 0 || c.toInt() > 6)
                return QStringLiteral("Invalid request.\n\nFor 'properties/required_approving_"
                                      "review_count', %1 is not a possible value.")
                    .arg(c.toInt());
        }
    }
    const QJsonValue restrictions = body.value("restrictions");
    if (!restrictions.isNull()) {
        if (!restrictions.isObject())
            return typeError("restrictions", restrictions, "an object or null");
        const QJsonObject o = restrictions.toObject();
        for (const char *k : {"users", "teams"}) {
            if (!o.contains(k))
                return QStringLiteral("Invalid request.\n\n\"%1\" wasn't supplied.").arg(k);
            if (!isStringArray(o.value(k)))
                return typeError(k, o.value(k), "an array of strings");
        }
    }
    for (const char *k :
         {"required_linear_history", "allow_force_pushes", "allow_deletions", "block_creations",
          "required_conversation_resolution", "lock_branch", "allow_fork_syncing"}) {
        const QJsonValue v = body.value(k);
        if (!v.isUndefined() && !v.isNull() && !v.isBool())
            return typeError(k, v, "a boolean");
    }
    return {};
}

} // namespace

QJsonObject EmulatorBackend::protectionJson(const EmuRepo &r) const {
    const QJsonObject &p = *r.protection;
    const QString url = repoApiUrl(r) + QStringLiteral("/branches/main/protection");
    QJsonObject j{{"url", url}};
    if (p.value("required_status_checks").isObject()) {
        const QJsonObject in = p.value("required_status_checks").toObject();
        QJsonArray contexts = in.value("contexts").toArray();
        QJsonArray checks = in.value("checks").toArray();
        if (checks.isEmpty()) {
            for (const auto &c : contexts)
                checks.append(QJsonObject{{"context", c}, {"app_id", QJsonValue::Null}});
        } else if (contexts.isEmpty()) {
            for (const auto &c : checks)
                contexts.append(c.toObject().value("context"));
        }
        j.insert("required_status_checks",
                 QJsonObject{
                     {"url", url + QStringLiteral("/required_status_checks")},
                     {"strict", in.value("strict").toBool()},
                     {"contexts", contexts},
                     {"checks", checks},
                     {"contexts_url", url + QStringLiteral("/required_status_checks/contexts")}});
    }
    // Lists of logins and team slugs, answered as GitHub's user and team objects.
    const auto allowances = [&](const QJsonObject &in, const QString &base) {
        QJsonArray people;
        for (const auto &login : in.value("users").toArray()) {
            auto it = users.find(key(login.toString()));
            if (it != users.end())
                people.append(userJson(it->second));
        }
        QJsonArray teams;
        for (const auto &slug : in.value("teams").toArray())
            teams.append(QJsonObject{{"slug", slug}, {"name", slug}});
        QJsonObject out{{"users", people}, {"teams", teams}, {"apps", QJsonArray{}}};
        if (!base.isEmpty()) {
            out.insert("url", base);
            out.insert("users_url", base + QStringLiteral("/users"));
            out.insert("teams_url", base + QStringLiteral("/teams"));
        }
        return out;
    };
    if (p.value("required_pull_request_reviews").isObject()) {
        const QJsonObject in = p.value("required_pull_request_reviews").toObject();
        const QString reviewsUrl = url + QStringLiteral("/required_pull_request_reviews");
        QJsonObject reviews{
            {"url", reviewsUrl},
            {"dismiss_stale_reviews", in.value("dismiss_stale_reviews").toBool(false)},
            {"require_code_owner_reviews", in.value("require_code_owner_reviews").toBool(false)},
            {"required_approving_review_count",
             in.value("required_approving_review_count").toInt(1)},
            {"require_last_push_approval", in.value("require_last_push_approval").toBool(false)}};
        // Both appear only when they name someone.
        const QJsonObject dismissal = in.value("dismissal_restrictions").toObject();
        if (!dismissal.value("users").toArray().isEmpty() ||
            !dismissal.value("teams").toArray().isEmpty())
            reviews.insert(
                "dismissal_restrictions",
                allowances(dismissal, reviewsUrl + QStringLiteral("/dismissal_restrictions")));
        const QJsonObject bypass = in.value("bypass_pull_request_allowances").toObject();
        if (!bypass.value("users").toArray().isEmpty() ||
            !bypass.value("teams").toArray().isEmpty())
            reviews.insert("bypass_pull_request_allowances", allowances(bypass, {}));
        j.insert("required_pull_request_reviews", reviews);
    }
    j.insert(
        "required_signatures",
        QJsonObject{{"url", url + QStringLiteral("/required_signatures")}, {"enabled", false}});
    j.insert("enforce_admins", QJsonObject{{"url", url + QStringLiteral("/enforce_admins")},
                                           {"enabled", p.value("enforce_admins").toBool(false)}});
    for (const char *k :
         {"required_linear_history", "allow_force_pushes", "allow_deletions", "block_creations",
          "required_conversation_resolution", "lock_branch", "allow_fork_syncing"})
        j.insert(k, QJsonObject{{"enabled", p.value(k).toBool(false)}});
    if (p.value("restrictions").isObject()) {
        const QJsonObject in = p.value("restrictions").toObject();
        QJsonArray people;
        for (const auto &login : in.value("users").toArray()) {
            auto it = users.find(key(login.toString()));
            if (it != users.end())
                people.append(userJson(it->second));
        }
        j.insert("restrictions",
                 QJsonObject{{"url", url + QStringLiteral("/restrictions")},
                             {"users_url", url + QStringLiteral("/restrictions/users")},
                             {"teams_url", url + QStringLiteral("/restrictions/teams")},
                             {"apps_url", url + QStringLiteral("/restrictions/apps")},
                             {"users", people},
                             {"teams", QJsonArray{}},
                             {"apps", QJsonArray{}}});
    }
    return j;
}

HttpReply EmulatorBackend::getProtection(const EmuRepo &r) {
    if (!r.protection)
        return error(404, QStringLiteral("Branch not protected"),
                     kDoc + QStringLiteral("#get-branch-protection"));
    return json(200, QJsonDocument(protectionJson(r)));
}

HttpReply EmulatorBackend::putProtection(const HttpExchange &req, EmuRepo &r) {
    const QString doc = kDoc + QStringLiteral("#update-branch-protection");
    QJsonParseError err;
    const QJsonDocument parsed = QJsonDocument::fromJson(req.body, &err);
    if (err.error != QJsonParseError::NoError)
        return error(400, QStringLiteral("Problems parsing JSON"), doc);
    if (!parsed.isObject())
        return error(400, QStringLiteral("Body should be a JSON object"), doc);
    const QString problem = validateProtection(parsed.object());
    if (!problem.isEmpty())
        return validation(problem, doc);
    r.protection = parsed.object();
    return json(200, QJsonDocument(protectionJson(r)));
}

HttpReply EmulatorBackend::deleteProtection(EmuRepo &r) {
    if (!r.protection)
        return error(404, QStringLiteral("Branch not protected"),
                     kDoc + QStringLiteral("#delete-branch-protection"));
    r.protection.reset();
    HttpReply reply;
    reply.status = 204;
    return reply;
}

} // namespace ghemu
