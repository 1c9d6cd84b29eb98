#include "vocabulary.h"

#include <QHash>

namespace {

// One pattern for a list of phrases (each a pattern), found without case in one pass over a text.
QRegularExpression anyOf(const QStringList& phrases)
{
    return QRegularExpression(phrases.join(u'|'), QRegularExpression::CaseInsensitiveOption);
}

// Each set holds a fact's labels in English, then in the other languages registries write.
const Words kRegistrarKeys = {"registrar", "sponsoring registrar", "registrar name",
    "registrar organization", "registrar organisation", "authorized agency",
    "registration service provider", "registrar of record", "注册商", "注册服务机构",
    "所属注册服务机构", "sponsoring registrar name", "current registar", "current registrar",
    "registered by", "registrador", "agente registrador", "bureau d'enregistrement", "registraire"};
const Words kRegistrantKeys = {"registrant name", "registrant", "holder name", "holder",
    "owner name", "owner", "domain holder", "domain owner", "registrant person", "person",
    "registrant's name", "titular", "所有者", "注册人", "域名持有者", "注册者", "registered for",
    "registrante", "titular del dominio", "titulaire", "propietario", "proprietário", "titolare",
    "inhaber", "houder"};
const Words kRegistrantContactKeys = {"registrant contact name", "registrant contact"};
const Words kRegistrantOrgKeys
    = {"registrant organization", "registrant organisation", "registrant org", "registrant company",
        "holder organization", "owner organization", "org", "org name"};
const Words kRegistrantEmailKeys
    = {"registrant email", "registrant e mail", "registrant contact email", "holder email",
        "owner email", "registrant's email", "注册人邮箱", "联系人邮箱"};
const Words kRegistrantHandleKeys
    = {"holder c", "owner c", "registrant c", "registrant handle", "holder handle", "registrant id",
        "registrant contact id", "registrant contact", "domain holder handle"};
// A registrar's line never names an object of the answer: the registrar's handle is the value.
const Words kHandleKeys = {"nic hdl", "nic hdl br", "handle", "contact", "contactid", "contact id",
    "nic handle", "id", "norid handle"};
const Words kEmailKeys = {"email", "e mail", "email address", "contact email", "mail"};
const Words kCreatedKeys = {"creation date", "created", "created on", "created date", "registered",
    "registered on", "registration date", "registration time", "registered date",
    "domain registration date", "domain created", "record created", "record created on",
    "first registration date", "commencement date", "domain name commencement date", "activated",
    "registration", "created at", "date created", "domain record activated", "creation",
    "registered at", "注册时间", "注册日期", "登録年月日", "domain create date",
    "domain dateregistered", "domain registered", "acivated", "entry created", "assigned",
    "fecha de creacion", "fecha de creación", "fecha de registro", "fecha de alta",
    "fecha de activacion", "fecha de activación", "creado", "registrado", "date de creation",
    "date de création", "date d'enregistrement", "créé le", "data de criacao", "data de criação",
    "data de registo", "data de registro", "criado", "criado em", "data di creazione",
    "data di registrazione", "registrierungsdatum", "registratiedatum"};
const Words kExpiresKeys = {"registry expiry date", "registrar registration expiration date",
    "expiration date", "expiry date", "expiry", "expires", "expires on", "expire", "expire date",
    "expiration time", "paid till", "valid until", "validity", "renewal date", "record expires on",
    "domain expires", "expiration", "expires at", "date expires", "domain expiration date",
    "expiry time", "过期时间", "到期时间", "到期日期", "有効期限", "valid date",
    "domain datebilleduntil", "record will expire on", "exp date", "fecha de expiracion",
    "fecha de expiración", "fecha de vencimiento", "vencimiento", "fecha de corte", "expira",
    "date d'expiration", "expire le", "data de expiracao", "data de expiração", "data de validade",
    "validade", "data di scadenza", "scadenza", "ablaufdatum", "verloopdatum"};
const Words kNameServerKeys = {"name server", "nameserver", "nserver", "name servers",
    "nameservers", "dns", "hostname", "host name", "domain nameservers", "ns", "dns name"};
const Words kStatusKeys = {"status", "domain status", "state", "registration status", "epp status",
    "query status", "statut"};
const Words kChangedKeys = {"updated date", "last updated", "last updated date", "last updated on",
    "last update", "last modified", "update date", "updated", "modified", "last changed",
    "domain last updated date", "更新时间", "最終更新"};
const Words kDomainKeys = {"domain", "domain name", "domainname", "dominio", "domínio", "domaine",
    "nom de domaine", "nombre de dominio"};
const Words kReferralKeys = {"registrar whois server", "whois server", "registrar whois",
    "referral whois server", "referralserver", "referral server"};
const Words kObjectKeys = {"server name", "domain name", "domain"};

} // namespace

quint32 rolesOf(const QString& key)
{
    static const QHash<QString, quint32> roles = [] {
        QHash<QString, quint32> table;
        const std::pair<const Words*, Role> sets[] = {{&kRegistrarKeys, RegistrarKey},
            {&kRegistrantKeys, RegistrantKey}, {&kRegistrantContactKeys, RegistrantContactKey},
            {&kRegistrantOrgKeys, RegistrantOrgKey}, {&kRegistrantEmailKeys, RegistrantEmailKey},
            {&kRegistrantHandleKeys, RegistrantHandleKey}, {&kHandleKeys, HandleKey},
            {&kEmailKeys, EmailKey}, {&kCreatedKeys, CreatedKey}, {&kExpiresKeys, ExpiresKey},
            {&kNameServerKeys, NameServerKey}, {&kStatusKeys, StatusKey}, {&kDomainKeys, DomainKey},
            {&kReferralKeys, ReferralKey}, {&kObjectKeys, ObjectKey}, {&kChangedKeys, ChangedKey}};
        for (const auto& [words, role] : sets) {
            for (const QString& word : *words)
                table[word] |= role;
        }
        return table;
    }();
    return key.isEmpty() ? 0 : roles.value(key);
}

quint32 eventRolesOf(const QString& key, const QString& value)
{
    static const Words historyKeys = {"changed"};
    static const std::pair<const char*, Role> events[] = {{"(assigned)", CreatedKey}};
    if (!value.endsWith(u')') || !historyKeys.contains(key))
        return 0;
    for (const auto& [event, role] : events) {
        if (value.endsWith(QLatin1String(event), Qt::CaseInsensitive))
            return role;
    }
    return 0;
}

namespace words {

const QStringList names = {"name", "personname", "person", "contact", "contact name", "full name",
    "registrant name", "nombre", "role"};
const QStringList organisations = {"organization", "organisation", "org", "company", "company name",
    "company english name", "registrant organization", "organization name", "organizacion",
    "organización", "organização", "organisation name"};
const QStringList handleEmails = {"e mail", "email", "email address"};
const QStringList ownNames = {"name", "organization", "organisation", "descr"};
const Words domainParagraphOnly = {"org", "person"};
const Words looseHandles = {"contact"};
const QStringList otherContacts = {"admin", "tech", "contact"};
const Words topContactNames = {"contact name"};
const Words topContactEmails = {"contact email"};
const Words registrarIds = {"registrar id"};
const Words registrarIanaIds = {"registrar iana id", "sponsoring registrar iana id"};
const Words registrarObjects = {"registrar"};
const Words hostsInBlocks = {"hostname", "host name"};
const QStringList spacedLabels = {"record expires on", "record created on", "registered on",
    "expires on", "created on", "expiry date", "registration date"};
const Words fieldWords = {"url", "id", "email", "mail", "phone", "fax", "ext", "name",
    "organization", "organisation", "street", "city", "state", "province", "code", "country",
    "date", "status", "server", "number", "address", "type", "handle", "dnssec", "language", "time",
    "updated", "created", "expires"};

const Words registrantBlocks = {"registrant", "holder", "owner", "domain holder",
    "holder of domain name", "registrant contact information", "registrant contact",
    "registrant information", "domain owner", "owner contact", "holder contact",
    "organization using domain name", "titular", "contact information", "registrant details",
    "registrante", "titulaire", "propietario", "titular del dominio"};
const Words registrantBlockWords
    = {"registrant", "holder", "owner", "titular", "titulaire", "registrante"};
const Words registrarBlocks = {"registrar", "registrar information", "sponsoring registrar",
    "registrar details", "registrar contact", "domain managers"};
const QStringList contactBlockWords
    = {"registrant", "holder", "owner", "registrar", "contact", "admin", "tech", "billing"};
const QStringList nameServerBlockWords = {"name server", "nameserver"};
const Words nameServerBlocks = {"dns", "servidores de dominio", "servidores de nombre",
    "servidores de nombres", "servidores de nomes", "serveurs de noms"};

const QRegularExpression rateLimited = anyOf(
    {"limit exceeded", "exceeded the maximum", "queries exceeded", "allowed queries", "query rate",
        "too many", "quota exceeded", "rate limit", "access control limit", "try again later"});
const QRegularExpression notFound
    = anyOf({"no match", "not found", "no data found", "no entries found", "no matching record",
        "no object found", "does not exist", "not been registered",
        "(?<!not )available for registration", "is not registered", "not registered", "is free",
        "no information available", "not known", "no found", "nothing found",
        "does not have any data", "no such domain", "no records matching", "do not have an entry",
        "object_not_found", "no existe", "returned 0 objects", "is available for",
        "no information was found", "is not valid!", "没有找到", "未注册", "无匹配"});
// "All rights reserved" in a notice reserves no name.
const QRegularExpression reserved = anyOf({"(?<!rights )reserved", "prohibited", "unassignable",
    "blocked", "cannot be registered", "not available", "restricted", "保留", "禁止"});
// "Available", but not "NOT AVAILABLE" nor "unavailable".
const QRegularExpression freeStatus = anyOf(
    {"(?<!not )(?<!un)available", "\\bfree\\b", "not registered", "no object", "not found"});
const QRegularExpression reservedStatus
    = anyOf({"reserved", "unassignable", "blocked", "prohibited name"});
const QRegularExpression terms = anyOf({"terms", "conditions", "copyright", "by submitting",
    "agree", "you may not", "lawful", "disclaimer", "notice", "policy", "permission"});
const QRegularExpression withheld = anyOf({"redacted", "privacy service", "not disclosed",
    "data protected", "non-public", "not public", "withheld", "gdpr", "private person",
    "statutory masking", "rdds service", "webbased whois", "web based whois", "not shown"});
const QRegularExpression noName(QStringLiteral("^(?:-+|n/?a|none|not? .*|no registrar.*|unknown)$"),
    QRegularExpression::CaseInsensitiveOption);

} // namespace words
