#include "whoistext.h"

#include <algorithm>

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include "service/limits.h"
#include "service/reading/charsetdetect.h"
#include "service/reading/vocabulary.h"

namespace {

// The first row serves every other registry, and registrars.
const std::vector<WhoisFormat> kFormats = {
    // name, servers, TLDs, zone of times written without one, nn/nn/yyyy month first, query,
    // charset
    {"通用", {}, {}, std::nullopt},
    {"Verisign", {"whois.verisign-grs.com"}, {}, std::nullopt, false, "domain %1"},
    {"DENIC", {"whois.denic.de"}, {}, std::nullopt, false, "-T dn,ace %1"},
    {"CNNIC", {"whois.cnnic.cn", "whois.cnnic.net.cn"}, {"cn", "xn--fiqs8s", "xn--fiqz9s"}, 8 * 60},
    {"JPRS", {"whois.jprs.jp"}, {"jp"}, 9 * 60, false, "%1/e", "ISO-2022-JP"},
    {"JPNIC", {"whois.nic.ad.jp"}, {}, std::nullopt, false, "%1/e", "ISO-2022-JP"},
    {"KRNIC", {"whois.kr"}, {}, std::nullopt, false, "%1", "EUC-KR"},
    {"TWNIC", {"whois.twnic.net.tw"}, {"tw", "xn--kpry57d", "xn--kprw13d"}, 8 * 60, false, "%1",
        "Big5"},
    {"HKIRC", {"whois.hkirc.hk"}, {"hk", "xn--j6w193g"}, 8 * 60},
    {"RU-CENTER", {"whois.nic.ru"}, {}, std::nullopt, false, "%1", "KOI8-R"},
    {"Dot TK", {"whois.dot.tk"}, {"tk"}, std::nullopt, true}, // 03/02/2020 is 2 March
};

// The row of a server itself; none for a server the table does not name.
const WhoisFormat* serverRow(const QString& host)
{
    for (const WhoisFormat& format : kFormats) {
        if (format.servers.contains(host.toLower()))
            return &format;
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

bool isNoName(const QString& value)
{
    return value.isEmpty() || containsAny(value, words::noName);
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

// The host of a registrar's whois server as registries name it: "whois.example.com",
// "whois://whois.example.com", "http://whois.example.com/ (port 43)".
QString referralHost(const QString& value)
{
    QStringView host = QStringView(value).left(value.indexOf(u' '));
    if (const qsizetype scheme = host.indexOf(QLatin1String("://")); scheme >= 0)
        host = host.mid(scheme + 3);
    return host.left(host.indexOf(u'/')).toString();
}

// What a block holds, by its header; bits.
enum BlockKind { Registrant = 1, Registrar = 2, Contact = 4, NameServers = 8, Other = 16 };

int blockKind(const QString& name)
{
    if (name.isEmpty())
        return 0;
    int kind = Other;
    if (words::registrantBlocks.contains(name)
        || words::registrantBlockWords.contains(name.left(name.indexOf(u' '))))
        kind |= Registrant;
    if (words::registrarBlocks.contains(name))
        kind |= Registrar;
    const auto mentions = [&name](const QStringList& parts) {
        return std::any_of(parts.begin(), parts.end(),
            [&name](const QString& part) { return name.contains(part); });
    };
    if (mentions(words::contactBlockWords))
        kind |= Contact;
    if (mentions(words::nameServerBlockWords) || words::nameServerBlocks.contains(name))
        kind |= NameServers;
    return kind;
}

struct Entry
{
    int block; // BlockKind bits; 0 at the top
    QString key; // normalised; empty for a value line under a header
    QString value;
    int paragraph;
    quint32 roles = rolesOf(key) | eventRolesOf(key, value);
};

using KeyValue = std::pair<QString, QString>;

std::optional<KeyValue> keyValue(QStringView line)
{
    if (line.startsWith(u'[') || (line.size() > 3 && line[1] == u'.' && line.contains(u'['))) {
        const qsizetype open = line.indexOf(u'[');
        const qsizetype close = line.indexOf(u']', open);
        if (close < 0 || open > 3 || line.at(open + 1) == u' ')
            return std::nullopt;
        const QString key = normalisedKey(line.mid(open + 1, close - open - 1));
        if (key.isEmpty())
            return std::nullopt;
        return KeyValue {key, line.mid(close + 1).trimmed().toString()};
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
        return KeyValue {key, line.mid(i + 1).trimmed().toString()};
    }
    for (const QString& label : words::spacedLabels) {
        if (line.size() > label.size() + 1 && line.startsWith(label, Qt::CaseInsensitive)
            && line[label.size()].isSpace())
            return KeyValue {label, line.mid(label.size()).trimmed().toString()};
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
            return KeyValue {key, match.captured(3).trimmed()};
    }
    return std::nullopt;
}

bool isComment(QStringView line)
{
    return line.startsWith(u'%') || line.startsWith(u'#') || line.startsWith(u'*')
        || line.startsWith(QLatin1String(">>>")) || line.startsWith(QLatin1String("--"))
        || line.startsWith(QLatin1String("[ "));
}

// A line that names a block without a colon: "Registrant", "Technical Contacts", "Registrante
// (Registrant)".
bool looksLikeHeader(QStringView line)
{
    if (const qsizetype gloss = line.lastIndexOf(u'('); gloss > 0 && line.endsWith(u')'))
        line = line.left(gloss).trimmed();
    return !line.isEmpty() && line.size() <= 40 && line[0].isLetter() && line.count(u' ') <= 4
        && line.back().isLetter() && !line.contains(u'@') && !line.contains(u'.');
}

// A line of an answer that is not blank, as split once.
struct Line
{
    QStringView text; // trimmed, a leading "** " dropped
    int indent = 0;
    bool comment = false;
    int blankIndent = -1; // of the blank lines right before it; -1: none
    std::optional<KeyValue> field; // its key and value, when it is a field
};

// The lines of a text that are not blank, each looked at once.
std::vector<Line> splitLines(const QString& text)
{
    std::vector<Line> lines;
    int blankIndent = -1;
    for (qsizetype at = 0; at < text.size();) {
        qsizetype end = text.indexOf(u'\n', at);
        if (end < 0)
            end = text.size();
        const QStringView raw = QStringView(text).mid(at, end - at);
        at = end + 1;
        Line line;
        line.indent = indentOf(raw);
        line.text = raw.trimmed();
        if (line.text.isEmpty()) {
            // A run of blank lines counts as its first, and is passed at once.
            if (blankIndent < 0)
                blankIndent = line.indent;
            qsizetype past = at;
            while (past < text.size() && text[past].isSpace())
                ++past;
            while (past > at && text[past - 1] != u'\n')
                --past;
            at = past;
            continue;
        }
        // "** Registrant:" heads a block; other lines of stars are decoration.
        if (line.text.startsWith(QLatin1String("** ")))
            line.text = line.text.mid(3);
        line.comment = isComment(line.text);
        if (!line.comment)
            line.field = keyValue(line.text);
        line.blankIndent = std::exchange(blankIndent, -1);
        lines.push_back(std::move(line));
    }
    return lines;
}

// An answer as entries: "key: value", "[key] value", "key....: value", a header ("Registrant:",
// "Registrant") with the lines under it, indented or not.
struct Parsed
{
    std::vector<Entry> entries;
    // Lines outside comments and terms of use, for phrases that must not be read there.
    QString plain;
};

Parsed parse(const QString& text)
{
    const std::vector<Line> lines = splitLines(text);
    Parsed parsed;
    int section = 0; // the open block's kind; 0: none
    int sectionIndent = -1;
    bool sectionHasKeys = false;
    bool sectionEmpty = true; // no line read under the header yet
    // A block named by a field ("Renewal date:", "Registrar:") has that field's value on its first
    // line.
    QString valueKey;
    int paragraph = 0;
    QString paragraphText;
    const auto endParagraph = [&] {
        if (!paragraphText.isEmpty()) {
            if (!containsAny(paragraphText, words::terms))
                parsed.plain += paragraphText;
            paragraphText.clear();
        }
        ++paragraph;
    };
    const auto openBlock = [&](const QString& name, int kind, int indent) {
        valueKey = rolesOf(name) ? name : QString();
        section = kind;
        sectionIndent = indent;
        sectionHasKeys = false;
        sectionEmpty = true;
        endParagraph();
    };
    // A blank or comment line at indent, before the line following (none: the end).
    const auto pause = [&](int indent, const Line* following) {
        // A block whose lines are not indented ends at a blank line (not at one right under
        // its header).
        if (section && sectionIndent >= 0 && indent <= sectionIndent && !sectionEmpty
            && (!following || following->indent <= sectionIndent))
            section = 0;
        endParagraph();
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        const Line* following = i + 1 < lines.size() ? &lines[i + 1] : nullptr;
        if (line.blankIndent >= 0)
            pause(line.blankIndent, &line);
        if (line.comment) {
            pause(line.indent, following);
            continue;
        }
        const bool startsParagraph = paragraphText.isEmpty();
        paragraphText += line.text;
        paragraphText += u'\n';
        if (section && line.indent < sectionIndent)
            section = 0;
        const bool inside = section && line.indent > sectionIndent;
        if (line.field && line.field->second.isEmpty()) {
            // A key with nothing after it heads a block when lines under it follow, or when it
            // stands apart from the fields around it; otherwise it is a field left empty
            // ("Registrar URL:", "fax-no:").
            const QString& key = line.field->first;
            bool header = true;
            if (following) {
                const auto firstWord = [](QStringView k) { return k.left(k.indexOf(u' ')); };
                const QString lastWord = key.mid(key.lastIndexOf(u' ') + 1);
                const bool apart = startsParagraph || following->blankIndent >= 0;
                header = following->indent > line.indent || !following->field
                    || (apart && firstWord(following->field->first) != firstWord(key)
                        && !words::fieldWords.contains(lastWord));
            }
            if (header && !inside)
                openBlock(key, blockKind(key), line.indent);
            continue;
        }
        if (line.field) {
            valueKey.clear();
            parsed.entries.push_back(
                {section, line.field->first, cleaned(line.field->second), paragraph});
            sectionEmpty = false;
            sectionHasKeys = sectionHasKeys || section;
            continue;
        }
        const bool flatBlockGoesOn = section && line.indent == sectionIndent;
        if (looksLikeHeader(line.text) && !inside && (!flatBlockGoesOn || sectionHasKeys)
            && following && (following->field || following->indent > line.indent)) {
            const QString name = normalisedKey(line.text);
            openBlock(name, blockKind(name) | Other, line.indent);
            continue;
        }
        if (section) {
            parsed.entries.push_back(
                {section, std::exchange(valueKey, {}), cleaned(line.text.toString()), paragraph});
        }
        sectionEmpty = false;
    }
    endParagraph();
    return parsed;
}

class Reader
{
public:
    Reader(const QString& text, const WhoisFormat& format, const QString& domain)
        : m_text(text), m_parsed(parse(text)), m_format(format)
    {
        auto& entries = m_parsed.entries;
        // An answer listing other objects before the one asked for (Verisign's "Server Name"s)
        // is read from that one on.
        qsizetype from = -1;
        int objects = 0;
        for (qsizetype i = 0; i < qsizetype(entries.size()); ++i) {
            if (entries[size_t(i)].roles & ObjectKey) {
                ++objects;
                if (!domain.isEmpty() && from < 0
                    && entries[size_t(i)].value.compare(domain, Qt::CaseInsensitive) == 0)
                    from = i;
            }
        }
        if (objects > 1 && from > 0)
            entries.erase(entries.begin(), entries.begin() + from);
        for (const Entry& entry : entries) {
            if ((entry.roles & HandleKey) && isHandle(entry.value))
                m_byHandle.insert(entry.value.toLower(), entry.paragraph);
            if (entry.block == 0 && (entry.roles & DomainKey))
                m_domainParagraphs.insert(entry.paragraph);
            if ((entry.roles & HandleKey) && !words::looseHandles.contains(entry.key))
                m_contactParagraphs.insert(entry.paragraph);
            const bool names = (entry.roles & RegistrantHandleKey)
                || ((entry.roles & RegistrantKey)
                    && !words::domainParagraphOnly.contains(entry.key));
            if (names && m_registrantHandle.isEmpty() && isHandle(entry.value))
                m_registrantHandle = entry.value;
        }
        // A registrar's own object: a paragraph that starts with its identifier.
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            const bool starts = i == 0 || entries[i - 1].paragraph != e.paragraph;
            if (starts && words::registrarObjects.contains(e.key) && !e.value.contains(u' ')
                && !m_domainParagraphs.contains(e.paragraph))
                m_registrars.insert(e.value.toLower(), e.paragraph);
        }
        // The paragraph after the domain's (IANA's layout, .il's) is the domain's too, unless it is
        // a contact's object.
        const QSet<int> own = m_domainParagraphs;
        const QList<int> registrarParagraphs = m_registrars.values();
        const QSet<int> registrarObjects(registrarParagraphs.begin(), registrarParagraphs.end());
        int previous = -1;
        for (const Entry& entry : entries) {
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

    WhoisReading read() const
    {
        WhoisReading reading;
        DomainRecord& r = reading.record;
        r.registrar = registrarName(namedRegistrar());
        r.registrant = registrant();
        r.email = email();
        r.created = date(CreatedKey);
        r.expires = date(ExpiresKey);
        r.changed = date(ChangedKey);
        r.nameServers = nameServers();
        r.status = statuses();
        r.registrarId = first([](const Entry& e) {
            return words::registrarIanaIds.contains(e.key);
        }).section(u' ', 0, 0);
        reading.lacksRegistrant = !statesRegistrant();
        reading.referral
            = referralHost(first([](const Entry& e) { return e.roles & ReferralKey; }));
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

    QString namedRegistrar() const
    {
        const QStringList names = words::organisations + words::names;
        for (const Entry& entry : m_parsed.entries) {
            if (!(entry.roles & RegistrarKey) || isNoName(entry.value))
                continue;
            // A handle, or an identifier ("ua.imena") whose own object the answer holds.
            const auto object = m_registrars.constFind(entry.value.toLower());
            if (isHandle(entry.value) || object != m_registrars.cend()) {
                QString name = byHandle(entry.value, names);
                for (const QString& key : names) {
                    if (name.isEmpty() && object != m_registrars.cend())
                        name = first(
                            [&](const Entry& e) { return e.paragraph == *object && e.key == key; });
                }
                return name.isEmpty() ? entry.value : name;
            }
            return entry.value;
        }
        const QString named = inSections(Registrar, names, true);
        if (!isNoName(named))
            return named;
        // "Registrar ID: R-2024 (Example Registrar S.L.)"
        static const QRegularExpression idAndName(QStringLiteral("^\\S+\\s+\\((.+)\\)$"));
        return idAndName
            .match(first([](const Entry& e) { return words::registrarIds.contains(e.key); }))
            .captured(1);
    }

    // An entry that names the registrant: "org" and "person" alone do only in the domain's own
    // paragraph.
    bool namesRegistrant(const Entry& entry, quint32 role) const
    {
        return (entry.roles & role)
            && (!words::domainParagraphOnly.contains(entry.key)
                || m_domainParagraphs.contains(entry.paragraph));
    }

    // Whether the answer says anything of the registrant, withheld or not: a thin registry's
    // does not, and its registrar is asked.
    bool statesRegistrant() const
    {
        return std::any_of(m_parsed.entries.begin(), m_parsed.entries.end(), [&](const Entry& e) {
            return namesRegistrant(e, RegistrantKey | RegistrantContactKey | RegistrantOrgKey)
                || (e.block & Registrant) || (e.roles & RegistrantEmailKey)
                || ((e.roles & RegistrantHandleKey) && isHandle(e.value));
        });
    }

    QString registrant() const
    {
        const QStringList names = words::names + words::organisations;
        bool triedHandle = false;
        for (const quint32 role : {RegistrantKey, RegistrantContactKey, RegistrantOrgKey}) {
            for (const Entry& entry : m_parsed.entries) {
                if (!namesRegistrant(entry, role) || isNoName(entry.value)
                    || isWithheld(entry.value))
                    continue;
                if (isHandle(entry.value) && !words::domainParagraphOnly.contains(entry.key)) {
                    if (std::exchange(triedHandle, true))
                        continue; // one look-up, however many handles an answer lists
                    const QString name = byHandle(entry.value, names);
                    if (!name.isEmpty())
                        return name;
                    continue;
                }
                return entry.value;
            }
        }
        const QString inSection = inSections(Registrant, names, true);
        if (!inSection.isEmpty())
            return inSection;
        // JPRS's "[Organization]" and the like: the domain's own paragraph.
        for (const QString& key : words::ownNames) {
            const QString own = first([&](const Entry& e) {
                return e.key == key && e.block == 0 && m_domainParagraphs.contains(e.paragraph)
                    && !isWithheld(e.value) && !isHandle(e.value);
            });
            if (!own.isEmpty())
                return own;
        }
        if (!m_registrantHandle.isEmpty())
            return byHandle(m_registrantHandle, names);
        return first([](const Entry& e) {
            return e.block == 0 && words::topContactNames.contains(e.key) && !isWithheld(e.value);
        });
    }

    QString email() const
    {
        const auto address = [](const QString& v) { return isEmailAddress(v) && !isWithheld(v); };
        QString found = first(
            [&](const Entry& e) { return (e.roles & RegistrantEmailKey) && address(e.value); });
        if (found.isEmpty()) {
            found = first([&](const Entry& e) {
                return (e.block & Registrant) && (e.roles & EmailKey) && address(e.value);
            });
        }
        if (found.isEmpty() && !m_registrantHandle.isEmpty()) {
            const QString byIt = byHandle(m_registrantHandle, words::handleEmails);
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
        if (found.isEmpty()) {
            // The domain's own e-mail, before any other contact ("Admin Email") is named.
            QSet<int> others;
            for (const Entry& e : m_parsed.entries) {
                if (e.block != 0 || !m_domainParagraphs.contains(e.paragraph))
                    continue;
                const auto other = [&e](const QString& part) { return e.key.contains(part); };
                if (std::any_of(words::otherContacts.begin(), words::otherContacts.end(), other))
                    others.insert(e.paragraph);
                else if (!others.contains(e.paragraph) && (e.roles & EmailKey)
                    && address(deobfuscated(e.value)))
                    return deobfuscated(e.value);
            }
        }
        if (found.isEmpty()) {
            found = first([&](const Entry& e) {
                return e.block == 0 && words::topContactEmails.contains(e.key) && address(e.value);
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

    QStringList nameServers() const
    {
        QStringList hosts;
        for (const Entry& entry : m_parsed.entries) {
            if (hosts.size() == limits::kMostNameServers)
                break;
            const bool inBlock = entry.block & NameServers;
            if (entry.key.isEmpty() ? !inBlock
                                    : !(entry.roles & NameServerKey)
                        || (!inBlock && words::hostsInBlocks.contains(entry.key)))
                continue;
            QString host = entry.value.section(u' ', 0, 0).toLower();
            while (host.endsWith(u'.'))
                host.chop(1);
            if (host.contains(u'.') && !hosts.contains(host))
                hosts << host;
        }
        return hosts;
    }

    // The domain's status codes, each once: "clientHold https://icann.org/epp#clientHold" is
    // clientHold; several on one line, between commas, are read each.
    QStringList statuses() const
    {
        QStringList codes;
        for (const Entry& entry : m_parsed.entries) {
            if (!(entry.roles & StatusKey) || (entry.block & Contact)
                || m_contactParagraphs.contains(entry.paragraph))
                continue;
            for (const QString& part : entry.value.split(u',', Qt::SkipEmptyParts)) {
                const QString code = part.simplified().section(u' ', 0, 0);
                if (codes.size() < limits::kMostStatuses && !code.isEmpty() && !code.contains(u'/')
                    && !codes.contains(code))
                    codes << code;
            }
        }
        return codes;
    }

    Outcome outcome(const DomainRecord& r) const
    {
        // A record with a registrar and dates is held, whatever word of it resembles a
        // reservation ("Status: RESERVED" of a registry's own name).
        const bool held = !r.registrar.isEmpty() && (r.created.isValid() || r.expires.isValid());
        bool active = false;
        for (const Entry& entry : m_parsed.entries) {
            if (!(entry.roles & StatusKey) || entry.value.isEmpty() || (entry.block & Contact))
                continue;
            const QString status = entry.value.toLower();
            if (!held && containsAny(status, words::reservedStatus))
                return Outcome::Reserved;
            if (containsAny(status, words::freeStatus) || containsAny(status, words::notFound))
                return Outcome::NotRegistered;
            active = true;
        }
        if (active || !r.registrar.isEmpty() || r.created.isValid() || r.expires.isValid()
            || !r.nameServers.isEmpty() || !r.registrant.isEmpty() || !r.email.isEmpty())
            return Outcome::Registered;
        // No domain stated: a not-found phrase decides (in comments too), then phrases outside
        // comments and terms of use.
        if (containsAny(m_text, words::notFound))
            return Outcome::NotRegistered;
        if (containsAny(m_parsed.plain, words::rateLimited))
            return Outcome::RateLimited;
        if (containsAny(m_parsed.plain, words::reserved))
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
};

} // namespace

const std::vector<WhoisFormat>& whoisFormats()
{
    return kFormats;
}

const WhoisFormat& formatFor(const QString& server, const QString& tld)
{
    if (const WhoisFormat* own = serverRow(server))
        return *own;
    for (const WhoisFormat& format : kFormats) {
        if (format.tlds.contains(tld.toLower()))
            return format;
    }
    return kFormats.front();
}

QByteArray whoisQueryFor(const QString& server, const QString& domain)
{
    const WhoisFormat* row = serverRow(server);
    return QString::fromLatin1(row ? row->query : "%1").arg(domain).toUtf8() + "\r\n";
}

QString decodeWhoisAnswer(const QString& server, const QByteArray& bytes)
{
    // ISO-2022-JP is 7-bit, and so passes for UTF-8: its escape sequences give it away.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError() && !bytes.contains("\x1b$"))
        return text;
    const WhoisFormat* row = serverRow(server);
    if (row && row->charset) {
        QStringDecoder own(row->charset);
        if (own.isValid())
            return own.decode(bytes);
    }
    return decodeDetected(bytes);
}

bool isWithheld(const QString& value)
{
    return containsAny(value, words::withheld);
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
