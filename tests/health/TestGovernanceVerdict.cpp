#include "GovernanceBlobIds.h"
#include "GovernanceFiles.h"
#include "GovernanceVerdict.h"

#include <QJsonArray>
#include <QTest>

#include <functional>

namespace {

using Change = std::function<void(GovernanceFacts &)>;

const QDateTime kSetUp = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
const QDateTime kNow = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
const QString kOwner = QStringLiteral("sam-admin");
const QString kSettings = QStringLiteral(".claude/settings.json");
const QString kCodeowners = QStringLiteral(".github/CODEOWNERS");
const QString kPushSha = QStringLiteral("a1b2c3d4e5f60718293a4b5c6d7e8f9012345678");

QString sha(char digit) {
    return QString(40, QLatin1Char(digit));
}

QJsonObject enabled(bool on) {
    return QJsonObject{{"enabled", on}};
}

// The rule set as GET …/protection reports it after KeelMark's PUT.
QJsonObject appliedProtection() {
    return QJsonObject{
        {"enforce_admins", enabled(true)},
        {"required_pull_request_reviews", QJsonObject{{"required_approving_review_count", 1},
                                                      {"require_code_owner_reviews", true},
                                                      {"dismiss_stale_reviews", true},
                                                      {"require_last_push_approval", false}}},
        {"required_linear_history", enabled(true)},
        {"allow_force_pushes", enabled(false)},
        {"allow_deletions", enabled(false)},
        {"lock_branch", enabled(false)},
        {"required_signatures", enabled(false)},
    };
}

// A set-up repository as the last check left it; main's tree is the
// baseline's own (sha '2').
GovernanceFacts inForce() {
    GovernanceFacts facts;
    facts.setupComplete = true;
    facts.owner = kOwner;
    facts.repository = QStringLiteral("acme/ops");
    facts.protection = appliedProtection();
    facts.baseline = GovernanceBlobIds::approvedAtSetup(sha('1'), sha('2'), kOwner, "acme", kSetUp);
    facts.head = HeadFact{sha('1'), sha('2')};
    facts.codeowners = GovernanceFiles::compose(kOwner, "acme").first().content;
    facts.checkedAt = kNow;
    return facts;
}

// main moved on to commit '3', tree '4'; the tree and the history are read.
void movedOn(GovernanceFacts &facts, QList<CommitFact> history = {}) {
    facts.head = HeadFact{sha('3'), sha('4')};
    facts.tree = facts.baseline.blobIds;
    facts.tree->insert("client-work/brief.md", sha('9'));
    facts.history = history;
}

CommitFact touching(const QString &path, std::optional<PullRequestFact> pull = std::nullopt) {
    return CommitFact{kPushSha, QStringLiteral("eve"), {path}, pull};
}

PullRequestFact merged(int number, QList<ReviewFact> reviews) {
    return PullRequestFact{number, QStringLiteral("eve"), sha('7'), true, reviews};
}

Change weaken(const QString &key, const QJsonValue &value) {
    return [=](GovernanceFacts &facts) { facts.protection->insert(key, value); };
}

Change weakenReviews(const QString &key, const QJsonValue &value) {
    return [=](GovernanceFacts &facts) {
        QJsonObject reviews = facts.protection->value("required_pull_request_reviews").toObject();
        reviews.insert(key, value);
        facts.protection->insert("required_pull_request_reviews", reviews);
    };
}

Change changedFile(const QString &path, QList<CommitFact> history) {
    return [=](GovernanceFacts &facts) {
        movedOn(facts, history);
        facts.tree->insert(path, sha('5'));
    };
}

Change offline(CheckFailure failure) {
    return [=](GovernanceFacts &facts) { facts.failure = failure; };
}

} // namespace

Q_DECLARE_METATYPE(Change)

class TestGovernanceVerdict : public QObject {
    Q_OBJECT

private slots:
    // Every tamper scenario a check can meet, from the facts it fetched to
    // the status and the words the admin reads.
    void tamperScenarios_data() {
        QTest::addColumn<Change>("change");
        QTest::addColumn<MachineStatusState>("status");
        QTest::addColumn<QStringList>("reasons");
        QTest::addColumn<QString>("storedCommit"); // baseline written, at this commit
        const auto alert = MachineStatusState::tamperAlert;
        const auto ok = MachineStatusState::protected_;
        const QString weakened = "Branch protection weakened: ";
        const QString gone = "Repository acme/ops not found on GitHub \u2014 deleted, renamed or "
                             "no longer visible to you";
        const ReviewFact approval{kOwner, "APPROVED", sha('7')};

        QTest::newRow("unchanged tree") << Change() << ok << QStringList() << QString();
        QTest::newRow("unrelated file added")
            << Change([](GovernanceFacts &f) { movedOn(f); }) << ok << QStringList() << sha('1');
        QTest::newRow("administrators exempt")
            << weaken("enforce_admins", enabled(false)) << alert
            << QStringList{weakened + "administrators exempt"} << QString();
        QTest::newRow("reviews not required")
            << weaken("required_pull_request_reviews", QJsonValue()) << alert
            << QStringList{weakened + "pull request reviews not required"} << QString();
        QTest::newRow("no approval required")
            << weakenReviews("required_approving_review_count", 0) << alert
            << QStringList{weakened + "no approving review required"} << QString();
        QTest::newRow("code owner review off")
            << weakenReviews("require_code_owner_reviews", false) << alert
            << QStringList{weakened + "code owner review not required"} << QString();
        QTest::newRow("stale approvals kept")
            << weakenReviews("dismiss_stale_reviews", false) << alert
            << QStringList{weakened + "stale approvals kept after new commits"} << QString();
        QTest::newRow("review bypass allowed")
            << weakenReviews("bypass_pull_request_allowances",
                             QJsonObject{{"users", QJsonArray{QJsonObject{{"login", "eve"}}}}})
            << alert << QStringList{weakened + "reviews can be bypassed by @eve"} << QString();
        QTest::newRow("linear history off")
            << weaken("required_linear_history", enabled(false)) << alert
            << QStringList{weakened + "linear history not required"} << QString();
        QTest::newRow("force pushes allowed")
            << weaken("allow_force_pushes", enabled(true)) << alert
            << QStringList{weakened + "force pushes allowed"} << QString();
        QTest::newRow("deletion allowed")
            << weaken("allow_deletions", enabled(true)) << alert
            << QStringList{weakened + "branch deletion allowed"} << QString();
        QTest::newRow("protection deleted")
            << Change([](GovernanceFacts &f) { f.protection.reset(); }) << alert
            << QStringList{"Branch protection is off"} << QString();
        QTest::newRow("stricter protection") << Change([](GovernanceFacts &f) {
            weakenReviews("required_approving_review_count", 3)(f);
            weakenReviews("require_last_push_approval", true)(f);
            f.protection->insert("required_status_checks",
                                 QJsonObject{{"strict", true}, {"contexts", QJsonArray{"ci"}}});
            f.protection->insert("restrictions", QJsonObject{{"users", QJsonArray()}});
            f.protection->insert("required_signatures", enabled(true));
        }) << ok << QStringList() << QString();
        QTest::newRow("direct push")
            << changedFile(kSettings, {touching(kSettings)}) << alert
            << QStringList{kSettings + " changed \u2014 pushed directly by @eve in a1b2c3d"}
            << QString();
        QTest::newRow("deleted by a direct push") << Change([](GovernanceFacts &f) {
            movedOn(f, {touching(kSettings)});
            f.tree->remove(kSettings);
        }) << alert << QStringList{kSettings + " deleted \u2014 pushed directly by @eve in a1b2c3d"}
                                                  << QString();
        QTest::newRow("reviewed and approved by the owner")
            << changedFile(kSettings, {touching(kSettings, merged(4, {approval}))}) << ok
            << QStringList() << sha('3');
        QTest::newRow("merged without the owner's approval")
            << changedFile(kSettings,
                           {touching(kSettings, merged(5, {{"bob", "APPROVED", sha('7')},
                                                           {kOwner, "COMMENTED", sha('7')}}))})
            << alert
            << QStringList{kSettings + " changed \u2014 merged in #5 by @eve without @sam-admin's "
                                       "approval"}
            << QString();
        QTest::newRow("owner's approval dismissed")
            << changedFile(
                   kSettings,
                   {touching(kSettings, merged(6, {approval, {kOwner, "DISMISSED", sha('7')}}))})
            << alert
            << QStringList{kSettings + " changed \u2014 merged in #6 by @eve after "
                                       "@sam-admin's approval was dismissed"}
            << QString();
        QTest::newRow("approval of an earlier revision")
            << changedFile(kSettings,
                           {touching(kSettings, merged(7, {{kOwner, "APPROVED", sha('6')}}))})
            << alert
            << QStringList{kSettings + " changed \u2014 merged in #7 by @eve, approved by "
                                       "@sam-admin on an earlier revision only"}
            << QString();
        QTest::newRow("reviewed change after a direct push")
            << changedFile(kSettings,
                           {touching(kSettings), touching(kSettings, merged(8, {approval}))})
            << alert
            << QStringList{kSettings + " changed \u2014 pushed directly by @eve in a1b2c3d; "
                                       "merged in #8, approved by @sam-admin"}
            << QString();
        QTest::newRow("history rewritten")
            << changedFile(kSettings, {}) << alert
            << QStringList{kSettings +
                           " changed \u2014 no commit since the approved one explains it"}
            << QString();
        QTest::newRow("CODEOWNERS rewritten")
            << Change([](GovernanceFacts &f) {
                   changedFile(kCodeowners, {touching(kCodeowners)})(f);
                   f.codeowners = "* @sam-admin-evil @eve\n";
               })
            << alert
            << QStringList{kCodeowners + " changed \u2014 pushed directly by @eve in a1b2c3d",
                           "CODEOWNERS no longer names @sam-admin"}
            << QString();
        QTest::newRow("repository deleted") << Change([](GovernanceFacts &f) {
            f.repositoryFound = false;
            f.protection.reset();
        }) << alert << QStringList{gone} << QString();
        QTest::newRow("unreachable")
            << offline(CheckFailure::unreachable) << MachineStatusState::offline
            << QStringList{"GitHub could not be reached"} << QString();
        QTest::newRow("server error")
            << offline(CheckFailure::serverError) << MachineStatusState::offline
            << QStringList{"GitHub answered with a server error"} << QString();
        QTest::newRow("rate limited")
            << offline(CheckFailure::rateLimited) << MachineStatusState::offline
            << QStringList{"GitHub's rate limit is used up; checking again later"} << QString();
        QTest::newRow("sign-in refused")
            << offline(CheckFailure::unauthorized) << MachineStatusState::offline
            << QStringList{"GitHub no longer accepts KeelMark's sign-in"} << QString();
        QTest::newRow("setup incomplete, offline") << Change([](GovernanceFacts &f) {
            f.setupComplete = false;
            f.failure = CheckFailure::unreachable;
        }) << MachineStatusState::setupMode << QStringList()
                                                   << QString();
        QTest::newRow("pre-baseline machine, main as composed") << Change([](GovernanceFacts &f) {
            f.baseline = GovernanceBlobIds::provisional(kOwner, "acme", kNow);
            movedOn(f);
        }) << ok << QStringList() << sha('3');
        QTest::newRow("pre-baseline machine, a file differs")
            << Change([](GovernanceFacts &f) {
                   f.baseline = GovernanceBlobIds::provisional(kOwner, "acme", kNow);
                   changedFile("CLAUDE.md", {})(f);
               })
            << alert
            << QStringList{"CLAUDE.md changed \u2014 differs from the files KeelMark set up"}
            << QString();
    }
    void tamperScenarios() {
        QFETCH(Change, change);
        QFETCH(MachineStatusState, status);
        QFETCH(QStringList, reasons);
        QFETCH(QString, storedCommit);
        GovernanceFacts facts = inForce();
        if (change)
            change(facts);

        const GovernanceVerdict verdict = GovernanceVerdict::judge(facts);
        QCOMPARE(verdict.needs, GovernanceVerdict::Needs::nothing);
        QCOMPARE(verdict.reasons, reasons);
        QCOMPARE(toText(verdict.status), toText(status));
        QCOMPARE(verdict.baselineToStore.has_value(), !storedCommit.isEmpty());
        if (!verdict.baselineToStore)
            return;
        const GovernanceBaseline &stored = *verdict.baselineToStore;
        QCOMPARE(stored.commitSha, storedCommit);
        // What is stored is what main holds: the next check of the same
        // tree reads nothing and finds the files as approved.
        facts.baseline = stored;
        facts.tree.reset();
        facts.history.reset();
        const GovernanceVerdict next = GovernanceVerdict::judge(facts);
        QCOMPARE(next.needs, GovernanceVerdict::Needs::nothing);
        QCOMPARE(next.fileFindings, QStringList{"Governance files match what you approved"});
        QVERIFY(!next.baselineToStore);
    }

    // A reviewed change moves the baseline and says how it arrived; the
    // files row still reads as approved.
    void reviewedChangeIsRecorded() {
        GovernanceFacts facts = inForce();
        changedFile(kSettings,
                    {touching(kSettings, merged(4, {{kOwner, "APPROVED", sha('7')}}))})(facts);
        const GovernanceVerdict verdict = GovernanceVerdict::judge(facts);
        QCOMPARE(verdict.events,
                 QStringList{kSettings + " changed \u2014 merged in #4, approved by @sam-admin"});
        QCOMPARE(verdict.baselineToStore->blobIds.value(kSettings), sha('5'));
        QCOMPARE(verdict.baselineToStore->pullRequest, 4);
        QCOMPARE(verdict.baselineToStore->acceptedAt, kNow);
    }

    // The check reads the tree only when main's tree moved, and the history
    // only when a governance file differs, from the last commit found clean.
    void readsOnlyWhatItNeeds() {
        GovernanceFacts facts = inForce();
        QCOMPARE(facts.baseline.historyBase(), sha('1'));
        movedOn(facts);
        facts.history.reset();
        facts.baseline = *GovernanceVerdict::judge(facts).baselineToStore;
        QCOMPARE(facts.baseline.cleanCommit, sha('3'));
        QCOMPARE(facts.baseline.historyBase(), sha('3'));

        facts.head = HeadFact{sha('5'), sha('6')};
        facts.tree.reset();
        QCOMPARE(GovernanceVerdict::judge(facts).needs, GovernanceVerdict::Needs::tree);
        facts.tree = facts.baseline.blobIds;
        facts.tree->insert(kSettings, sha('5'));
        QCOMPARE(GovernanceVerdict::judge(facts).needs, GovernanceVerdict::Needs::history);
        // Reverted: the clean tree again, at a newer commit.
        GovernanceFacts reverted = facts;
        reverted.head = HeadFact{sha('8'), sha('4')};
        const auto back = GovernanceVerdict::judge(reverted).baselineToStore;
        QVERIFY(back);
        QCOMPARE(back->historyBase(), sha('8'));
        // A reviewed change starts the trail afresh from the approved commit.
        facts.history = {touching(kSettings, merged(4, {{kOwner, "APPROVED", sha('7')}}))};
        const GovernanceBaseline moved = *GovernanceVerdict::judge(facts).baselineToStore;
        QCOMPARE(moved.historyBase(), sha('5'));
        QVERIFY(!moved.cleanCommit);
    }

    // Ids must be git's own, or every composed file would read as changed.
    void blobIdsAreGits() {
        QCOMPARE(GovernanceBlobIds::ofContent(""),
                 QStringLiteral("e69de29bb2d1d6434b8b29ae775ad8c2e48c5391"));
        QCOMPARE(GovernanceBlobIds::ofContent("hello\n"),
                 QStringLiteral("ce013625030ba8dba906f756967f9e9ca394464a"));
        QCOMPARE(GovernanceBlobIds::composed(kOwner, "acme").size(), 12);
    }
};

QTEST_GUILESS_MAIN(TestGovernanceVerdict)
#include "TestGovernanceVerdict.moc"
