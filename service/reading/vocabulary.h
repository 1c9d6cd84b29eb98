#pragma once

// The words whois answers are read by: the keys of their fields, the names of their blocks and
// the phrases said in place of data. A registry's own label for a fact is an entry here, never a
// literal in the reader's logic.
//
// Keys are held as normalisedKey() makes them: lower case, "-" and "_" as blanks, parentheses and
// trailing dots dropped, the English of "Titular / Registrant".

#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>

using Words = QSet<QString>;

// What a key stands for; a key may stand for several. Bits.
enum Role : quint32 {
    RegistrarKey = 1 << 0,
    RegistrantKey = 1 << 1,
    RegistrantContactKey = 1 << 2, // a person to contact, named when the registrant is not
    RegistrantOrgKey = 1 << 3,
    RegistrantEmailKey = 1 << 4,
    RegistrantHandleKey = 1 << 5, // names the registrant's object elsewhere in the answer
    HandleKey = 1 << 6, // names the object whose paragraph it is in
    EmailKey = 1 << 7,
    CreatedKey = 1 << 8,
    ExpiresKey = 1 << 9,
    NameServerKey = 1 << 10,
    StatusKey = 1 << 11,
    DomainKey = 1 << 12,
    ReferralKey = 1 << 13, // the registrar's whois server
    ObjectKey = 1 << 14, // starts one of the objects an answer lists (Verisign's host records)
    ChangedKey = 1 << 15, // the domain's last change
    // Keys that may stand before their value with blanks alone between ("Domain-name   x").
    Known = RegistrarKey | RegistrantKey | RegistrantOrgKey | RegistrantEmailKey | CreatedKey
        | ExpiresKey | NameServerKey | StatusKey | DomainKey,
};

// The roles of a normalised key; 0 for a key outside the vocabulary.
quint32 rolesOf(const QString& key);
// The roles a history line's event gives it: "changed: ... 19960111 (Assigned)" is the creation.
quint32 eventRolesOf(const QString& key, const QString& value);

namespace words {

// Where a contact object's name, organisation and e-mail are, in the order they are preferred.
extern const QStringList names;
extern const QStringList organisations;
extern const QStringList handleEmails;
// The domain's own paragraph naming its holder without a role ("[Organization]", "descr:").
extern const QStringList ownNames;
// Keys that name the registrant only in the domain's own paragraph ("org:", "person:").
extern const Words domainParagraphOnly;
// Keys that name an object without making its paragraph a contact's ("contact: administrative").
extern const Words looseHandles;
// Parts of keys that belong to a contact other than the registrant ("Admin Email").
extern const QStringList otherContacts;
// Keys at the top of an answer, read last: a contact with no role, the first being the holder's.
extern const Words topContactNames;
extern const Words topContactEmails;
// "Registrar ID: R-2024 (Example Registrar S.L.)"
extern const Words registrarIds;
// "Registrar IANA ID: 292"
extern const Words registrarIanaIds;
// Keys that start a registrar's own object (.ua's "registrar: ua.imena").
extern const Words registrarObjects;
// Name-server keys that count only inside a block of name servers ("Hostname:").
extern const Words hostsInBlocks;
// Labels written before their value without a colon ("Record expires on 2027-06-10").
extern const QStringList spacedLabels;
// Last words of keys that name one field, not a block: "Registrar URL:" left empty heads nothing.
extern const Words fieldWords;

// Block names, by what the block holds.
extern const Words registrantBlocks;
extern const Words
    registrantBlockWords; // a block whose name starts with one ("Registrant Address")
extern const Words registrarBlocks;
extern const QStringList contactBlockWords; // a contact's, whose dates are not the domain's
extern const QStringList nameServerBlockWords;
extern const Words nameServerBlocks;

// Said in place of data. A not-found phrase decides before any other; the others count only
// outside comments and terms of use, in answers that state no domain.
extern const QRegularExpression rateLimited;
extern const QRegularExpression notFound;
extern const QRegularExpression reserved;
extern const QRegularExpression freeStatus;
extern const QRegularExpression reservedStatus;
extern const QRegularExpression terms;
extern const QRegularExpression withheld;
// A registrar or registrant value that names nobody ("No registrar listed.", "-").
extern const QRegularExpression noName;

} // namespace words
