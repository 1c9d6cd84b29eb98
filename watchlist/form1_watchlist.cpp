// The watch list of the main window: filling it at start, Watch, Delete and re-query.
#include "window/form1.h"

#include <QScopeGuard>

#include "watchlist/watchlist.h"

using namespace adodb;

void Form1::OpenConnection()
{
    conn->CursorLocation = adUseClient;
    conn->Open(databasePath(m_services.programDir()), m_services.watchListLockWait);
}

void Form1::closeAfterFailure(Recordset& rs)
{
    if (rs.State() != adStateClosed)
        rs.Close();
    if (conn->State() != adStateClosed)
        conn->Close();
}

void Form1::LoadWatchList()
{
    auto onFailure = qScopeGuard([this] { closeAfterFailure(*rsList); });
    OpenConnection();
    if (rsList->State() != adStateClosed)
        rsList->Close();
    rsList->Open(QStringLiteral("select * from [domain] order by [id] desc"), *conn, adOpenKeyset,
        adLockReadOnly, adCmdUnspecified);
    const int count = rsList->RecordCount();
    for (int i = 0; i < count; ++i) {
        // A row without a url has nothing to show.
        const QVariant url = rsList->Fields(QStringLiteral("url")).Value;
        if (!url.isNull())
            List1->AddItem(url.toString());
        rsList->MoveNext();
    }
    rsList->Close();
    conn->Close();
    onFailure.dismiss();
}

void Form1::Command2_Click()
{
    List1->AddItem(tb_url->text());
    auto onFailure = qScopeGuard([this] { closeAfterFailure(*rsAdd); });
    OpenConnection();
    if (rsAdd->State() != adStateClosed)
        rsAdd->Close();
    rsAdd->Open(QStringLiteral("select * from [domain]"), *conn, adOpenKeyset, adLockOptimistic,
        adCmdUnspecified);
    rsAdd->AddNew();
    rsAdd->Fields(QStringLiteral("url")).Value = tb_url->text();
    rsAdd->Update();
    rsAdd->Close();
    conn->Close();
    onFailure.dismiss();
}

void Form1::Command3_Click()
{
    // With nothing selected there is nothing to delete (the empty text would match empty rows).
    if (List1->ListIndex() == -1)
        return;
    auto onFailure = qScopeGuard([this] { closeAfterFailure(*rsDelete); });
    OpenConnection();
    if (rsDelete->State() != adStateClosed)
        rsDelete->Close();
    rsDelete->Open(QStringLiteral("delete from [domain] where url='") + sqlQuoted(List1->Text())
            + QStringLiteral("'"),
        *conn, adOpenKeyset, adLockOptimistic, adCmdUnspecified);
    // Only once the rows are gone: an entry whose rows stay must stay in the list as well.
    List1->RemoveItem(List1->ListIndex());
    conn->Close();
    onFailure.dismiss();
}

void Form1::List1_Click()
{
    tb_url->setText(List1->List(List1->ListIndex()));
    QueryDomain();
}
