#include "whoistext.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include "service/reading/charsetdetect.h"

namespace {

// Only what differs: the zone of times written without one, where the registry documents it.
const std::vector<WhoisFormat> kFormats = {
    {"通用", {}, {}, std::nullopt},
    {"CNNIC", {"whois.cnnic.cn", "whois.cnnic.net.cn"}, {"cn", "xn--fiqs8s", "xn--fiqz9s"}, 8 * 60},
    {"JPRS", {"whois.jprs.jp"}, {"jp"}, 9 * 60},
    {"TWNIC", {"whois.twnic.net.tw"}, {"tw", "xn--kpry57d", "xn--kprw13d"}, 8 * 60},
    {"HKIRC", {"whois.hkirc.hk"}, {"hk", "xn--j6w193g"}, 8 * 60},
    {"Dot TK", {"whois.dot.tk"}, {"tk"}, std::nullopt, true}, // 03/02/2020 is 2 March
};

// Servers that want more than the bare name, or answer in a charset of their own.
struct ServerRow
{
    const char* host;
    const char* query; // %1: the domain
    const char* charset;
};
const ServerRow kServers[] = {
    {"whois.verisign-grs.com", "domain %1", nullptr},
    {"whois.denic.de", "-T dn,ace %1", nullptr},
    {"whois.jprs.jp", "%1/e", "ISO-2022-JP"},
    {"whois.nic.ad.jp", "%1/e", "ISO-2022-JP"},
    {"whois.kr", "%1", "EUC-KR"},
    {"whois.twnic.net.tw", "%1", "Big5"},
    {"whois.nic.ru", "%1", "KOI8-R"},
};

// One pattern for a list of phrases (each a pattern), found without case in one pass over a text.
QRegularExpression anyOf(const QStringList& phrases)
{
    return QRegularExpression(phrases.join(u'|'), QRegularExpression::CaseInsensitiveOption);
}

// The common vocabulary of whois answers, as keys are normalised: lower case, "-" and "_" as
// blanks, parentheses and trailing dots dropped, the English of "Titular / Registrant".
using Words = QSet<QString>;
const Words kRegistrarKeys = {"registrar", "sponsoring registrar", "registrar name",
    "registrar organization", "registrar organisation", "authorized agency",
    "registration service provider", "registrar of record", "注册商", "注册服务机构",
    "所属注册服务机构", "sponsoring registrar name", "current registar", "current registrar"};
const Words kRegistrantKeys = {"registrant name", "registrant", "holder name", "holder",
    "owner name", "owner", "domain holder", "domain owner", "registrant person", "person",
    "registrant's name", "titular", "所有者", "注册人", "域名持有者", "注册者"};
// A person to contact at the registrant: named only when the registrant itself is not.
const Words kRegistrantContactKeys = {"registrant contact name", "registrant contact"};
const Words kRegistrantOrgKeys
    = {"registrant organization", "registrant organisation", "registrant org", "registrant company",
        "holder organization", "owner organization", "org", "org name"};
const Words kRegistrantEmailKeys
    = {"registrant email", "registrant e mail", "registrant contact email", "holder email",
        "owner email", "registrant's email", "注册人邮箱", "联系人邮箱"};
// Keys whose value names the registrant's contact object elsewhere in the answer.
const Words kRegistrantHandleKeys
    = {"holder c", "owner c", "registrant c", "registrant handle", "holder handle", "registrant id",
        "registrant contact id", "registrant contact", "domain holder handle"};
// Keys that name a contact object, and those that hold its name, organisation and e-mail.
const Words kHandleKeys = {"nic hdl", "nic hdl br", "handle", "contact", "contactid", "contact id",
    "nic handle", "id", "registrar", "norid handle"};
const QStringList kNameKeys = {"name", "personname", "person", "contact", "contact name",
    "full name", "registrant name", "nombre"};
const QStringList kOrgKeys = {"organization", "organisation", "org", "company", "company name",
    "company english name", "registrant organization", "organization name"};
const Words kEmailKeys = {"email", "e mail", "email address", "contact email", "mail"};
const Words kCreatedKeys = {"creation date", "created", "created on", "created date", "registered",
    "registered on", "registration date", "registration time", "registered date",
    "domain registration date", "domain created", "record created", "record created on",
    "first registration date", "commencement date", "domain name commencement date", "activated",
    "registration", "created at", "date created", "domain record activated", "creation",
    "registered at", "注册时间", "注册日期", "登録年月日", "domain create date",
    "domain dateregistered", "domain registered", "acivated"};
const Words kExpiresKeys = {"registry expiry date", "registrar registration expiration date",
    "expiration date", "expiry date", "expiry", "expires", "expires on", "expire", "expire date",
    "expiration time", "paid till", "valid until", "validity", "renewal date", "record expires on",
    "domain expires", "expiration", "expires at", "date expires", "domain expiration date",
    "expiry time", "过期时间", "到期时间", "到期日期", "有効期限", "valid date",
    "domain datebilleduntil", "record will expire on"};
const Words kNameServerKeys = {"name server", "nameserver", "nserver", "name servers",
    "nameservers", "dns", "hostname", "host name", "domain nameservers", "ns", "dns name"};
const Words kStatusKeys = {"status", "domain status", "state", "registration status", "epp status",
    "query status", "statut"};
const Words kDomainKeys = {"domain", "domain name", "domainname"};
// Labels written before their value without a colon ("Record expires on 2027-06-10").
const QStringList kSpacedLabels = {"record expires on", "record created on", "registered on",
    "expires on", "created on", "expiry date", "registration date"};

// Last words of keys that name one field, not a block: "Registrar URL:" left empty heads nothing.
const Words kFieldWords = {"url", "id", "email", "mail", "phone", "fax", "ext", "name",
    "organization", "organisation", "street", "city", "state", "province", "code", "country",
    "date", "status", "server", "number", "address", "type", "handle", "dnssec", "language", "time",
    "updated", "created", "expires"};
const Words kRegistrantSections = {"registrant", "holder", "owner", "domain holder",
    "holder of domain name", "registrant contact information", "registrant contact",
    "registrant information", "domain owner", "owner contact", "holder contact",
    "organization using domain name", "titular", "contact information", "registrant details"};
const Words kRegistrarSections = {"registrar", "registrar information", "sponsoring registrar",
    "registrar details", "registrar contact", "domain managers"};
// Section names that hold someone's contact, whose dates are not the domain's.
const QStringList kContactWords
    = {"registrant", "holder", "owner", "registrar", "contact", "admin", "tech", "billing"};

// Said in place of data. A not-found phrase decides before any other; the others count only
// outside comments and terms of use, in answers that state no domain.
const QRegularExpression kRateLimited = anyOf(
    {"limit exceeded", "exceeded the maximum", "queries exceeded", "allowed queries", "query rate",
        "too many", "quota exceeded", "rate limit", "access control limit", "try again later"});
const QRegularExpression kNotFound = anyOf({"no match", "not found", "no data found",
    "no entries found", "no matching record", "no object found", "does not exist",
    "not been registered", "(?<!not )available for registration", "is not registered",
    "not registered", "is free", "no information available", "not known", "no found",
    "nothing found", "does not have any data", "no such domain", "no records matching",
    "do not have an entry", "object_not_found", "no existe", "returned 0 objects",
    "is available for", "没有找到", "未注册", "无匹配"});
// "All rights reserved" in a notice reserves no name.
const QRegularExpression kReserved(
    QStringLiteral("(?<!rights )reserved|prohibited|unassignable|blocked|cannot be registered|"
                   "not available|restricted|保留|禁止"),
    QRegularExpression::CaseInsensitiveOption);
// "Available", but not "NOT AVAILABLE" nor "unavailable".
const QRegularExpression kFreeStatus(
    QStringLiteral("(?<!not )(?<!un)available|\\bfree\\b|not registered|no object|not found"),
    QRegularExpression::CaseInsensitiveOption);
const QRegularExpression kReservedStatus
    = anyOf({"reserved", "unassignable", "blocked", "prohibited name"});
const QRegularExpression kTermsWords = anyOf({"terms", "conditions", "copyright", "by submitting",
    "agree", "you may not", "lawful", "disclaimer", "notice", "policy", "permission"});
const QRegularExpression kWithheld = anyOf({"redacted", "privacy service", "not disclosed",
    "data protected", "non-public", "not public", "withheld", "gdpr", "private person",
    "statutory masking", "rdds service", "webbased whois", "web based whois", "not shown"});

const ServerRow* serverRow(const QString& host)
{
    for (const ServerRow& row : kServers) {
        if (host.compare(QLatin1String(row.host), Qt::CaseInsensitive) == 0)
            return &row;
    }
    return nullptr;
}

bool containsAny(const QString& text, const QRegularExpression& phrases)
{
    return phrases.match(text).hasMatch();
}

int indentOf(QStringView line)
{
    int n = 0;
    while (n < line.size() && (line[n] == u' ' || line[n] == u'\t'))
        ++n;
    return n;
}

// A key as the vocabulary holds it; empty when the text is no key.
// In one pass and one allocation, for it runs on every line of an answer.
QString normalisedKey(QStringView raw)
{
    char16_t key[64];
    qsizetype size = 0;
    int depth = 0, blanks = 0;
    bool blank = false;
    for (const QChar c : raw) {
        const char16_t u = c.unicode();
        if (u == u'(' || u == u')') {
            depth += u == u'(' ? 1 : -1;
            if (depth < 0)
                return {};
        } else if (depth > 0) {
        } else if (u == u'-' || u == u'_' || u == u' ' || u == u'\t' || c.isSpace()) {
            blank = size > 0;
        } else if (u == u',' || size > 60) {
            return {};
        } else {
            if (blank && ++blanks > 5)
                return {};
            if (blank)
                key[size++] = u' ';
            blank = false;
            key[size++]
                = u < 0x80 ? char16_t(u >= 'A' && u <= 'Z' ? u + 32 : u) : c.toLower().unicode();
        }
    }
    while (size > 0 && (key[size - 1] == u'.' || key[size - 1] == u' '))
        --size;
    if (depth != 0 || size == 0 || !QChar(key[0]).isLetter())
        return {};
    QString normal = QString::fromUtf16(key, size);
    // "Data de registo / Creation Date": the last language, which is English.
    if (const qsizetype slash = normal.lastIndexOf(QLatin1String(" / ")); slash >= 0)
        normal = normal.mid(slash + 3);
    return normal;
}

// A contact's or registrar's handle: "GI656-DK", "go438-irnic", "U4339-FRNIC": one word of
// letters, digits and "-_." with a digit in it.
bool isHandle(const QString& value)
{
    if (value.size() < 2 || value.size() > 40 || !(value[0].isLetterOrNumber()))
        return false;
    bool digit = false;
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        const bool letter = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
        digit = digit || (u >= '0' && u <= '9');
        if (!letter && !(u >= '0' && u <= '9') && u != '-' && u != '_' && u != '.')
            return false;
    }
    return digit;
}

// What a value says once registries' decorations are gone: "[Tag = X]", runs of blanks.
QString cleaned(QString value)
{
    static const QRegularExpression tag(QStringLiteral("\\s*\\[Tag = [^\\]]*\\]\\s*$"));
    // Blanks collapsed first, so that no pattern meets a long run of them (most values have
    // none, and are kept as they are).
    bool plain = true;
    for (qsizetype i = 0; plain && i < value.size(); ++i) {
        const QChar c = value[i];
        plain = c == u' ' ? i + 1 < value.size() && value[i + 1] != u' ' : !c.isSpace();
    }
    if (!plain)
        value = value.simplified();
    if (value.contains(QLatin1String("[Tag")))
        value.remove(tag);
    return value;
}

// A registrar's name without what registries add to it: a trailing "(URL)", "(R37-LROR)" or
// "R45-ME".
QString registrarName(QString value)
{
    static const QRegularExpression aside(
        QStringLiteral("\\s*\\((?:[^()]*(?:https?:|www\\.)[^()]*|[A-Z0-9]+-[A-Z0-9-]+)\\)$"));
    static const QRegularExpression registryId(QStringLiteral("\\s+R\\d+-[A-Z]+$"));
    if (value.endsWith(u')'))
        value.remove(aside);
    if (!value.isEmpty() && value.back().isUpper())
        value.remove(registryId);
    return value;
}

// Addresses written "name [at] host" or "name AT host", as some registries do against harvesting.
QString deobfuscated(QString value)
{
    static const QRegularExpression at(QStringLiteral("\\s*(?:\\[at\\]|\\(at\\)|\\sAT\\s)\\s*"));
    return value.replace(at, QStringLiteral("@"));
}

// What a key of the vocabulary stands for, looked up once per line; bits.
enum Role : quint32 {
    RegistrarKey = 1 << 0,
    RegistrantKey = 1 << 1,
    RegistrantContactKey = 1 << 2,
    RegistrantOrgKey = 1 << 3,
    RegistrantEmailKey = 1 << 4,
    RegistrantHandleKey = 1 << 5,
    HandleKey = 1 << 6,
    EmailKey = 1 << 7,
    CreatedKey = 1 << 8,
    ExpiresKey = 1 << 9,
    NameServerKey = 1 << 10,
    StatusKey = 1 << 11,
    DomainKey = 1 << 12,
    // Keys that may stand before their value with blanks alone between ("Domain-name   x").
    Known = RegistrarKey | RegistrantKey | RegistrantOrgKey | RegistrantEmailKey | CreatedKey
        | ExpiresKey | NameServerKey | StatusKey | DomainKey,
};

quint32 rolesOf(const QString& key)
{
    static const QHash<QString, quint32> roles = [] {
        QHash<QString, quint32> table;
        const std::pair<const Words*, Role> sets[] = {{&kRegistrarKeys, RegistrarKey},
            {&kRegistrantKeys, RegistrantKey}, {&kRegistrantContactKeys, RegistrantContactKey},
            {&kRegistrantOrgKeys, RegistrantOrgKey}, {&kRegistrantEmailKeys, RegistrantEmailKey},
            {&kRegistrantHandleKeys, RegistrantHandleKey}, {&kHandleKeys, HandleKey},
            {&kEmailKeys, EmailKey}, {&kCreatedKeys, CreatedKey}, {&kExpiresKeys, ExpiresKey},
            {&kNameServerKeys, NameServerKey}, {&kStatusKeys, StatusKey},
            {&kDomainKeys, DomainKey}};
        for (const auto& [words, role] : sets) {
            for (const QString& word : *words)
                table[word] |= role;
        }
        return table;
    }();
    return key.isEmpty() ? 0 : roles.value(key);
}

// What a block holds, by its header; bits.
enum BlockKind { Registrant = 1, Registrar = 2, Contact = 4, NameServers = 8, Other = 16 };

struct Entry
{
    int block; // BlockKind bits; 0 at the top
    QString key; // normalised; empty for a value line under a header
    QString value;
    int paragraph;
    quint32 roles = rolesOf(key);
};

// An answer as entries, in one pass: "key: value", "[key] value", "key....: value", a header
// ("Registrant:", "Registrant") with the lines under it, indented or not.
struct Parsed
{
    std::vector<Entry> entries;
    // Lines outside comments and terms of use, for phrases that must not be read there.
    QString plain;
};

std::optional<std::pair<QString, QString>> keyValue(QStringView line)
{
    if (line.startsWith(u'[') || (line.size() > 3 && line[1] == u'.' && line.contains(u'['))) {
        const qsizetype open = line.indexOf(u'[');
        const qsizetype close = line.indexOf(u']', open);
        if (close < 0 || open > 3 || line.at(open + 1) == u' ')
            return std::nullopt;
        const QString key = normalisedKey(line.mid(open + 1, close - open - 1));
        if (key.isEmpty())
            return std::nullopt;
        return std::pair {key, line.mid(close + 1).trimmed().toString()};
    }
    const qsizetype limit = std::min<qsizetype>(line.size(), 200);
    for (qsizetype i = 0; i < limit; ++i) {
        const QChar c = line[i];
        if (c != u':' && c != QChar(0xFF1A))
            continue;
        if (i > 0 && line[i - 1].isDigit() && i + 1 < line.size() && line[i + 1].isDigit())
            continue; // a time
        if (line.mid(i + 1, 2) == QLatin1String("//"))
            return std::nullopt;
        const QString key = normalisedKey(line.left(i));
        if (key.isEmpty())
            return std::nullopt;
        return std::pair {key, line.mid(i + 1).trimmed().toString()};
    }
    for (const QString& label : kSpacedLabels) {
        if (line.size() > label.size() + 1 && line.startsWith(label, Qt::CaseInsensitive)
            && line[label.size()].isSpace())
            return std::pair {label, line.mid(label.size()).trimmed().toString()};
    }
    // "Domain-name         example.sk" (a known key, then blanks) and "Registrant Name ....
    // Example" (any key, then a leader of dots).
    static const QRegularExpression spaced(QStringLiteral(
        "^([A-Za-z][\\w-]*(?: [A-Za-z][\\w/-]*){0,4}?)\\s*(\\.{3,}|  |\\t)[\\s.]*(\\S.*)$"));
    const bool leader = line.contains(QLatin1String("  ")) || line.contains(u'\t')
        || line.contains(QLatin1String("..."));
    if (line.size() < 300 && leader) {
        const QRegularExpressionMatch match = spaced.match(line);
        const QString key = match.hasMatch() ? normalisedKey(match.capturedView(1)) : QString();
        if (!key.isEmpty() && (match.capturedView(2).startsWith(u'.') || (rolesOf(key) & Known)))
            return std::pair {key, match.captured(3).trimmed()};
    }
    return std::nullopt;
}

bool isComment(QStringView line)
{
    return line.startsWith(u'%') || line.startsWith(u'#') || line.startsWith(u'*')
        || line.startsWith(QLatin1String(">>>")) || line.startsWith(QLatin1String("--"))
        || line.startsWith(QLatin1String("[ "));
}

// A line that names a block without a colon: "Registrant", "Technical Contacts".
bool looksLikeHeader(QStringView line)
{
    return line.size() <= 40 && line[0].isLetter() && line.count(u' ') <= 4
        && line.back().isLetter() && !line.contains(u'@') && !line.contains(u'.');
}

int blockKind(const QString& section)
{
    if (section.isEmpty())
        return 0;
    int kind = Other;
    if (kRegistrantSections.contains(section))
        kind |= Registrant;
    if (kRegistrarSections.contains(section))
        kind |= Registrar;
    for (const QString& word : kContactWords) {
        if (section.contains(word))
            kind |= Contact;
    }
    if (section.contains(QLatin1String("name server"))
        || section.contains(QLatin1String("nameserver")) || section == QLatin1String("dns"))
        kind |= NameServers;
    return kind;
}

Parsed parse(const QString& text)
{
    Parsed parsed;
    int section = 0; // the open block's kind; 0: none
    int sectionIndent = -1;
    bool sectionHasKeys = false;
    bool sectionEmpty = true; // no line read under the header yet
    int paragraph = 0;
    QString paragraphText;
    const auto endParagraph = [&] {
        if (!paragraphText.isEmpty()) {
            if (!containsAny(paragraphText, kTermsWords))
                parsed.plain += paragraphText;
            paragraphText.clear();
        }
        ++paragraph;
    };
    // Lines are views into text, found as they are read: no list of a million lines is built.
    const qsizetype size = text.size();
    const auto lineAt = [&](qsizetype at) {
        qsizetype end = text.indexOf(u'\n', at);
        if (end < 0)
            end = size;
        return std::pair {QStringView(text).mid(at, end - at), end + 1};
    };
    // Where the next line that is not blank starts, from a start that only moves forward: the
    // last answer holds for every start up to it, so each line is looked at once.
    qsizetype aheadFrom = -1, aheadAt = -1;
    const auto nextLine = [&](qsizetype from) -> std::optional<QStringView> {
        if (aheadFrom < 0 || from < aheadFrom || from > aheadAt) {
            // Past the blanks, then back to the start of the line they end on.
            qsizetype at = from;
            while (at < size && text[at].isSpace())
                ++at;
            while (at > from && text[at - 1] != u'\n')
                --at;
            aheadFrom = from;
            aheadAt = at;
        }
        if (aheadAt >= size)
            return std::nullopt;
        return lineAt(aheadAt).first;
    };
    // Each line's key and value, worked out once though asked for again by the line above.
    const QChar* cachedAt = nullptr;
    std::optional<std::pair<QString, QString>> cached;
    const auto keyValueOf = [&](QStringView line) {
        if (line.data() != cachedAt) {
            QStringView trimmed = line.trimmed();
            if (trimmed.startsWith(QLatin1String("** ")))
                trimmed = trimmed.mid(3);
            cached = keyValue(trimmed);
            cachedAt = line.data();
        }
        return cached;
    };
    for (qsizetype at = 0; at < size;) {
        const auto [line, next] = lineAt(at);
        at = next;
        // "** Registrant:" heads a block; other lines of stars are decoration.
        QStringView trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1String("** ")))
            trimmed = trimmed.mid(3);
        const int indent = indentOf(line);
        if (trimmed.isEmpty() || isComment(trimmed)) {
            if (sectionIndent >= 0 && indent <= sectionIndent && section) {
                // A block whose lines are not indented ends at a blank line (not at one right
                // under its header).
                const auto following = nextLine(at);
                if (!sectionEmpty && (!following || indentOf(*following) <= sectionIndent))
                    section = 0;
            }
            endParagraph();
            if (trimmed.isEmpty() && at < size) {
                nextLine(at); // a run of blank lines is passed at once
                at = std::max(at, aheadAt);
            }
            continue;
        }
        const bool startsParagraph = paragraphText.isEmpty();
        paragraphText += trimmed;
        paragraphText += u'\n';
        if (section && indent < sectionIndent)
            section = 0;
        const auto pair = keyValueOf(line);
        const bool inside = section && indent > sectionIndent;
        if (pair && pair->second.isEmpty()) {
            // A key with nothing after it heads a block when lines under it follow, or when it
            // stands apart from the fields around it; otherwise it is a field left empty
            // ("Registrar URL:", "fax-no:").
            bool header = true;
            if (const auto following = nextLine(at)) {
                const auto after = keyValueOf(*following);
                const auto firstWord = [](QStringView key) { return key.left(key.indexOf(u' ')); };
                const QString lastWord = pair->first.mid(pair->first.lastIndexOf(u' ') + 1);
                const bool apart = startsParagraph || following->data() != text.constData() + at;
                header = indentOf(*following) > indent || !after
                    || (apart && firstWord(after->first) != firstWord(pair->first)
                        && !kFieldWords.contains(lastWord));
            }
            if (header && !inside) {
                section = blockKind(pair->first);
                sectionIndent = indent;
                sectionHasKeys = false;
                sectionEmpty = true;
                endParagraph();
            }
            continue;
        }
        if (pair) {
            parsed.entries.push_back({section, pair->first, cleaned(pair->second), paragraph});
            sectionEmpty = false;
            sectionHasKeys = sectionHasKeys || section;
            continue;
        }
        const bool flatBlockGoesOn = section && indent == sectionIndent;
        if (looksLikeHeader(trimmed) && !inside && (!flatBlockGoesOn || sectionHasKeys)) {
            const auto following = nextLine(at);
            if (following && (keyValueOf(*following) || indentOf(*following) > indent)) {
                section = blockKind(normalisedKey(trimmed)) | Other;
                sectionIndent = indent;
                sectionHasKeys = false;
                sectionEmpty = true;
                endParagraph();
                continue;
            }
        }
        if (section)
            parsed.entries.push_back({section, {}, cleaned(trimmed.toString()), paragraph});
        sectionEmpty = false;
    }
    endParagraph();
    return parsed;
}

// A registrar or registrant value that names nobody ("No registrar listed.", "-").
bool isNoName(const QString& value)
{
    static const QRegularExpression none(
        QStringLiteral("^(?:-+|n/?a|none|not? .*|no registrar.*|unknown)$"),
        QRegularExpression::CaseInsensitiveOption);
    return value.isEmpty() || none.match(value).hasMatch();
}

class Reader
{
public:
    Reader(const QString& text, const WhoisFormat& format, const QString& domain)
        : m_text(text), m_parsed(parse(text)), m_format(format)
    {
        const auto& e = m_parsed.entries;
        // An answer listing other objects before the one asked for (Verisign's "Server Name"s)
        // is read from that one on.
        qsizetype from = -1;
        int starts = 0;
        for (qsizetype i = 0; i < qsizetype(e.size()); ++i) {
            if (e[i].key == QLatin1String("server name") || e[i].key == QLatin1String("domain name")
                || e[i].key == QLatin1String("domain")) {
                ++starts;
                if (!domain.isEmpty() && from < 0
                    && e[i].value.compare(domain, Qt::CaseInsensitive) == 0)
                    from = i;
            }
        }
        if (starts > 1 && from > 0)
            m_parsed.entries.erase(m_parsed.entries.begin(), m_parsed.entries.begin() + from);
        for (const Entry& entry : m_parsed.entries) {
            if ((entry.roles & HandleKey) && isHandle(entry.value))
                m_byHandle.insert(entry.value.toLower(), entry.paragraph);
            if (entry.block == 0 && (entry.roles & DomainKey))
                m_domainParagraphs.insert(entry.paragraph);
            if ((entry.roles & HandleKey) && entry.key != QLatin1String("registrar")
                && entry.key != QLatin1String("contact"))
                m_contactParagraphs.insert(entry.paragraph);
            const bool names = (entry.roles & RegistrantHandleKey)
                || ((entry.roles & RegistrantKey) && entry.key != QLatin1String("person"));
            if (names && m_registrantHandle.isEmpty() && isHandle(entry.value))
                m_registrantHandle = entry.value;
        }
        // A registrar's own object: a paragraph that starts with its identifier.
        for (qsizetype i = 0; i < qsizetype(m_parsed.entries.size()); ++i) {
            const Entry& e = m_parsed.entries[size_t(i)];
            const bool starts = i == 0 || m_parsed.entries[size_t(i - 1)].paragraph != e.paragraph;
            if (starts && e.key == QLatin1String("registrar") && !e.value.contains(u' ')
                && !m_domainParagraphs.contains(e.paragraph))
                m_registrars.insert(e.value.toLower(), e.paragraph);
        }
        // The paragraph after the domain's (IANA's layout, .il's) is the domain's too, unless it is
        // a contact's object.
        const QSet<int> own = m_domainParagraphs;
        const QList<int> objects = m_registrars.values();
        const QSet<int> registrarObjects(objects.begin(), objects.end());
        int previous = -1;
        for (const Entry& entry : m_parsed.entries) {
            if (entry.paragraph == previous)
                continue;
            if (own.contains(previous) && !m_contactParagraphs.contains(entry.paragraph)
                && !registrarObjects.contains(entry.paragraph))
                m_domainParagraphs.insert(entry.paragraph);
            previous = entry.paragraph;
        }
        // The domain's own paragraph may name its handle too; it stays the domain's.
        for (const int paragraph : std::as_const(m_domainParagraphs))
            m_contactParagraphs.remove(paragraph);
    }

    WhoisReading read()
    {
        WhoisReading reading;
        DomainRecord& r = reading.record;
        r.registrar = registrar();
        r.registrant = registrant();
        r.email = email();
        r.created = date(CreatedKey);
        r.expires = date(ExpiresKey);
        reading.lacksRegistrant = !m_registrantStated;
        // A domain has a handful of name servers; an answer listing thousands is not believed.
        constexpr qsizetype kMostNameServers = 16;
        for (const Entry& entry : m_parsed.entries) {
            if (r.nameServers.size() == kMostNameServers)
                break;
            const bool listed = entry.key.isEmpty() && (entry.block & NameServers);
            if (!listed && !(entry.roles & NameServerKey))
                continue;
            if (!entry.key.isEmpty() && !(entry.block & NameServers)
                && (entry.key == QLatin1String("hostname")
                    || entry.key == QLatin1String("host name")))
                continue;
            QString host = entry.value.section(u' ', 0, 0).toLower();
            while (host.endsWith(u'.'))
                host.chop(1);
            if (host.contains(u'.') && !r.nameServers.contains(host))
                r.nameServers << host;
        }
        for (const Entry& entry : m_parsed.entries) {
            if (entry.key == QLatin1String("registrar whois server")
                || entry.key == QLatin1String("whois server")) {
                reading.referral = entry.value.section(u' ', 0, 0);
                break;
            }
        }
        reading.outcome = outcome(r);
        if (reading.outcome != Outcome::Registered)
            r = {}; // a reserved or free name's stray fields are no domain's facts

        return reading;
    }

private:
    // The first usable value of the first entry that matches, in the answer's order.
    template <class Match> QString first(Match match) const
    {
        for (const Entry& entry : m_parsed.entries) {
            if (match(entry) && !entry.value.isEmpty())
                return entry.value;
        }
        return {};
    }

    // A contact object's value under the first of keys, found by the object's handle.
    QString byHandle(const QString& handle, const QStringList& keys) const
    {
        const auto found = m_byHandle.constFind(handle.toLower());
        if (found == m_byHandle.cend())
            return {};
        for (const QString& key : keys) {
            const QString value = first([&](const Entry& e) {
                return e.paragraph == *found && e.key == key && !isWithheld(e.value);
            });
            if (!value.isEmpty())
                return value;
        }
        return {};
    }

    QString inSections(int block, const QStringList& keys, bool bare) const
    {
        for (const QString& key : keys) {
            const QString value = first([&](const Entry& e) {
                return (e.block & block) && e.key == key && !isWithheld(e.value)
                    && !isHandle(e.value);
            });
            if (!value.isEmpty())
                return value;
        }
        if (!bare)
            return {};
        return first([&](const Entry& e) {
            return (e.block & block) && e.key.isEmpty() && !isWithheld(e.value);
        });
    }

    QString registrar() const { return registrarName(namedRegistrar()); }

    QString namedRegistrar() const
    {
        for (const Entry& entry : m_parsed.entries) {
            if (!(entry.roles & RegistrarKey) || isNoName(entry.value))
                continue;
            // A handle, or an identifier ("ua.imena") whose own object the answer holds.
            const auto object = m_registrars.constFind(entry.value.toLower());
            if (isHandle(entry.value) || object != m_registrars.cend()) {
                QString name = byHandle(entry.value, kOrgKeys + kNameKeys);
                for (const QString& key : kOrgKeys + kNameKeys) {
                    if (name.isEmpty() && object != m_registrars.cend())
                        name = first(
                            [&](const Entry& e) { return e.paragraph == *object && e.key == key; });
                }
                return name.isEmpty() ? entry.value : name;
            }
            return entry.value;
        }
        const QString named = inSections(Registrar, kOrgKeys + kNameKeys, true);
        if (!isNoName(named))
            return named;
        // "Registrar ID: R-2024 (Example Registrar S.L.)"
        static const QRegularExpression idAndName(QStringLiteral("^\\S+\\s+\\((.+)\\)$"));
        return idAndName
            .match(first([](const Entry& e) { return e.key == QLatin1String("registrar id"); }))
            .captured(1);
    }

    QString registrant()
    {
        const QStringList names = kNameKeys;
        bool triedHandle = false;
        for (const quint32 role : {RegistrantKey, RegistrantContactKey, RegistrantOrgKey}) {
            for (const Entry& entry : m_parsed.entries) {
                if (!(entry.roles & role))
                    continue;
                // "org" and "person" alone belong to the domain only in its own paragraph.
                const bool generic
                    = entry.key == QLatin1String("org") || entry.key == QLatin1String("person");
                if (generic && !m_domainParagraphs.contains(entry.paragraph))
                    continue;
                m_registrantStated = true;
                if (isNoName(entry.value) || isWithheld(entry.value))
                    continue;
                if (isHandle(entry.value) && !generic) {
                    if (std::exchange(triedHandle, true))
                        continue; // one look-up, however many handles an answer lists
                    const QString name = byHandle(entry.value, names + kOrgKeys);
                    if (!name.isEmpty())
                        return name;
                    continue;
                }
                return entry.value;
            }
        }
        for (const Entry& entry : m_parsed.entries) {
            if (entry.block & Registrant)
                m_registrantStated = true;
            if ((entry.roles & RegistrantHandleKey) && isHandle(entry.value))
                m_registrantStated = true;
        }
        const QString inSection = inSections(Registrant, names + kOrgKeys, true);
        if (!inSection.isEmpty())
            return inSection;
        // JPRS's "[Organization]" and the like: the domain's own paragraph.
        for (const QString& key : {"name", "organization", "organisation", "descr"}) {
            const QString own = first([&](const Entry& e) {
                return e.key == key && e.block == 0 && m_domainParagraphs.contains(e.paragraph)
                    && !isWithheld(e.value) && !isHandle(e.value);
            });
            if (!own.isEmpty())
                return own;
        }
        if (!m_registrantHandle.isEmpty())
            return byHandle(m_registrantHandle, names + kOrgKeys);
        // Last: a contact named at the top with no role, the first being the holder's.
        return first([](const Entry& e) {
            return e.block == 0 && e.key == QLatin1String("contact name") && !isWithheld(e.value);
        });
    }

    QString email()
    {
        const auto address = [](const QString& v) { return isEmailAddress(v) && !isWithheld(v); };
        // The domain's own e-mail, before any other role ("Administrative Contact:") is named.
        const auto fromDomainParagraph = [&]() -> QString {
            QSet<int> roles;
            for (const Entry& e : m_parsed.entries) {
                if (e.block != 0 || !m_domainParagraphs.contains(e.paragraph))
                    continue;
                if (e.key.contains(QLatin1String("admin")) || e.key.contains(QLatin1String("tech"))
                    || e.key.contains(QLatin1String("contact")))
                    roles.insert(e.paragraph);
                else if (!roles.contains(e.paragraph) && (e.roles & EmailKey)
                    && address(deobfuscated(e.value)))
                    return deobfuscated(e.value);
            }
            return {};
        };
        QString found = first(
            [&](const Entry& e) { return (e.roles & RegistrantEmailKey) && address(e.value); });
        for (const Entry& entry : m_parsed.entries) {
            if ((entry.roles & RegistrantEmailKey))
                m_registrantStated = true;
        }
        if (found.isEmpty()) {
            found = first([&](const Entry& e) {
                return (e.block & Registrant) && (e.roles & EmailKey) && address(e.value);
            });
        }
        if (found.isEmpty() && !m_registrantHandle.isEmpty()) {
            const QString byIt = byHandle(m_registrantHandle, {"e mail", "email", "email address"});
            if (address(byIt))
                found = byIt;
        }
        if (found.isEmpty()) {
            // An address among the lines of the registrant's block ("DNS Admin  a@b.com").
            for (const Entry& e : m_parsed.entries) {
                if (!(e.block & Registrant) || !e.key.isEmpty()
                    || !e.value.contains(u'@') && !e.value.contains(QLatin1String("[at]")))
                    continue;
                const QStringList words
                    = deobfuscated(e.value).remove(u'(').remove(u')').split(u' ');
                for (const QString& word : words) {
                    if (found.isEmpty() && address(word))
                        found = word;
                }
            }
        }
        if (found.isEmpty())
            found = fromDomainParagraph();
        if (found.isEmpty()) {
            found = first([&](const Entry& e) {
                return e.block == 0 && e.key == QLatin1String("contact email") && address(e.value);
            });
        }
        return found;
    }

    // The domain's own date: outside contacts' blocks, where "Created:" is the contact's; a
    // key of more words ("Expiry Date") is the domain's even inside one.
    RecordDate date(quint32 role) const
    {
        for (const bool inContacts : {false, true}) {
            for (const Entry& entry : m_parsed.entries) {
                if (!(entry.roles & role) || m_contactParagraphs.contains(entry.paragraph))
                    continue;
                if ((entry.block & Contact) && (!inContacts || !entry.key.contains(u' ')))
                    continue;
                const RecordDate date = parseWhoisDate(
                    entry.value, m_format.utcOffsetMinutes, m_format.monthBeforeDay);
                if (date.isValid())
                    return date;
            }
        }
        return {};
    }

    Outcome outcome(const DomainRecord& r) const
    {
        bool active = false;
        for (const Entry& entry : m_parsed.entries) {
            if (!(entry.roles & StatusKey) || entry.value.isEmpty() || (entry.block & Contact))
                continue;
            const QString status = entry.value.toLower();
            if (containsAny(status, kReservedStatus))
                return Outcome::Reserved;
            if (containsAny(status, kFreeStatus) || containsAny(status, kNotFound))
                return Outcome::NotRegistered;
            active = true;
        }
        if (active || !r.registrar.isEmpty() || r.created.isValid() || r.expires.isValid()
            || !r.nameServers.isEmpty() || !r.registrant.isEmpty() || !r.email.isEmpty())
            return Outcome::Registered;
        // No domain stated: a not-found phrase decides (in comments too), then phrases outside
        // comments and terms of use.
        if (containsAny(m_text, kNotFound))
            return Outcome::NotRegistered;
        if (containsAny(m_parsed.plain, kRateLimited))
            return Outcome::RateLimited;
        if (containsAny(m_parsed.plain, kReserved))
            return Outcome::Reserved;
        return Outcome::Unavailable;
    }

    const QString& m_text;
    Parsed m_parsed;
    const WhoisFormat& m_format;
    QHash<QString, int> m_byHandle; // a contact's handle, lower case, to its paragraph
    QSet<int> m_domainParagraphs;
    QSet<int> m_contactParagraphs;
    QString m_registrantHandle;
    QHash<QString, int> m_registrars; // an identifier, lower case, to its object's paragraph
    bool m_registrantStated = false;
};

} // namespace

const std::vector<WhoisFormat>& whoisFormats()
{
    return kFormats;
}

const WhoisFormat& formatFor(const QString& server, const QString& tld)
{
    for (const WhoisFormat& format : kFormats) {
        if (format.servers.contains(server.toLower()))
            return format;
    }
    for (const WhoisFormat& format : kFormats) {
        if (format.tlds.contains(tld.toLower()))
            return format;
    }
    return kFormats.front();
}

QByteArray whoisQueryFor(const QString& server, const QString& domain)
{
    const ServerRow* row = serverRow(server);
    return QString::fromLatin1(row ? row->query : "%1").arg(domain).toUtf8() + "\r\n";
}

QString decodeWhoisAnswer(const QString& server, const QByteArray& bytes)
{
    // ISO-2022-JP is 7-bit, and so passes for UTF-8: its escape sequences give it away.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError() && !bytes.contains("\x1b$"))
        return text;
    const ServerRow* row = serverRow(server);
    if (row && row->charset) {
        QStringDecoder own(row->charset);
        if (own.isValid())
            return own.decode(bytes);
    }
    return decodeDetected(bytes);
}

bool isWithheld(const QString& value)
{
    return containsAny(value, kWithheld);
}

bool isEmailAddress(const QString& value)
{
    static const QRegularExpression address(QStringLiteral("^[^@\\s]+@[^@\\s]+\\.[^@\\s.]+$"));
    return address.match(value).hasMatch();
}

WhoisReading readWhoisAnswer(const QString& text, const WhoisFormat& format, const QString& domain)
{
    return Reader(text, format, domain).read();
}

WhoisReading readAnswerFrom(const QString& server, const QString& domain, const QByteArray& bytes)
{
    const QString tld = domain.section(u'.', -1);
    return readWhoisAnswer(decodeWhoisAnswer(server, bytes), formatFor(server, tld), domain);
}
