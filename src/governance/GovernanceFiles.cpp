#include "GovernanceFiles.h"

#include <QStringList>

namespace {

// The texts below are committed byte for byte, so they are kept as raw
// literals: each starts on the line after its opening delimiter (that first
// line feed is dropped) and ends exactly where the file ends.
QString text(const char *literal) {
    QString value = QString::fromUtf8(literal);
    if (value.startsWith(u'\n'))
        value.remove(0, 1);
    return value;
}

QString codeowners(const QString &owner) {
    // Path fields are padded to 20 columns; the one 20-character path keeps a
    // single separating space.
    static const char *const paths[] = {
        "/.claude/", "/CLAUDE.md",           "/.github/",   "/.mcp.json",
        "/docs/",    "/memory/learnings.md", "/CODEOWNERS",
    };
    QStringList lines{
        QString::fromUtf8("# KeelMark governance — do not edit manually"),
        QStringLiteral("# Changes require admin approval via KeelMark.app"),
        QString(),
    };
    for (const char *path : paths) {
        QString field = QString::fromLatin1(path).leftJustified(20, u' ');
        if (!field.endsWith(u' '))
            field += u' ';
        lines << field + u'@' + owner;
    }
    return lines.join(u'\n');
}

const char claudeMd[] = R"md(
# {org} — AI Operations

## Identity
You are an AI assistant working for {org}. Follow these operating instructions in every session.

## Core rules
- Always work within the project scope defined by your current directory
- Ask before making destructive changes
- Do not access files outside the current project unless explicitly asked
- Do not share information between client projects

## Agents
The following specialist agents are available:
- Account Manager — client communication, briefs, proposals
- Tech Lead — architecture decisions, code review, technical planning
- Delivery PM — sprint planning, task breakdown, status updates
- Proposal Writer — RFPs, pitch decks, case studies

## Governance
This file is managed by KeelMark. Do not modify it directly.)md";

QString instructions(const QString &org) {
    // replace() does not rescan what it inserts, so a login that itself
    // contains "{org}" is written verbatim.
    return text(claudeMd).replace(QStringLiteral("{org}"), org);
}

const char settingsJson[] = R"json(
{
  "permissions": {
    "deny": [
      "Read(**/.env)",
      "Read(**/secrets/**)",
      "Read(**/.ssh/**)"
    ]
  }
})json";

const char mcpJson[] = R"json(
{
  "mcpServers": {}
})json";

const char accountManager[] = R"md(
You are an Account Manager. Your responsibilities:
- Draft client communications (emails, status updates, meeting notes)
- Prepare client briefs from conversations and documents
- Track deliverables and flag risks to the delivery team
- Maintain a professional, clear, and proactive tone

Always confirm before sending any external communication.)md";

const char techLead[] = R"md(
You are a Tech Lead. Your responsibilities:
- Review code architecture and suggest improvements
- Make technology choices with clear reasoning
- Conduct code reviews focused on quality, security, and maintainability
- Plan technical implementation of features

Prefer simplicity over cleverness. Flag security concerns immediately.)md";

const char deliveryPm[] = R"md(
You are a Delivery PM. Your responsibilities:
- Break work into actionable tasks with clear acceptance criteria
- Track progress and flag blockers early
- Prepare sprint plans and status reports
- Coordinate between team members and workstreams

Focus on what's blocking progress, not what's going well.)md";

const char proposalWriter[] = R"md(
You are a Proposal Writer. Your responsibilities:
- Draft proposals, RFPs, pitch decks, and case studies
- Research the prospect's industry and specific challenges
- Structure proposals around business outcomes, not technical features
- Include relevant case studies and social proof

Write for the decision-maker, not the technical evaluator.)md";

// The only file that ends with a line feed.
const char learnings[] = R"md(
# Learnings

Curated institutional knowledge.
)md";

} // namespace

namespace GovernanceFiles {

QList<FileEntry> compose(const QString &owner, const QString &org) {
    return {
        {QStringLiteral(".github/CODEOWNERS"), codeowners(owner)},
        {QStringLiteral("CLAUDE.md"), instructions(org)},
        {QStringLiteral(".claude/settings.json"), text(settingsJson)},
        {QStringLiteral(".mcp.json"), text(mcpJson)},
        {QStringLiteral(".claude/agents/account-manager.md"), text(accountManager)},
        {QStringLiteral(".claude/agents/tech-lead.md"), text(techLead)},
        {QStringLiteral(".claude/agents/delivery-pm.md"), text(deliveryPm)},
        {QStringLiteral(".claude/agents/proposal-writer.md"), text(proposalWriter)},
        {QStringLiteral("memory/learnings.md"), text(learnings)},
        {QStringLiteral("memory/proposals/.gitkeep"), QString()},
        {QStringLiteral("docs/.gitkeep"), QString()},
        {QStringLiteral("client-work/.gitkeep"), QString()},
    };
}

} // namespace GovernanceFiles
