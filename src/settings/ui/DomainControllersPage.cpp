#include "settings/ui/DomainControllersPage.h"

#include "app/AppContext.h"
#include "db/Database.h"

#include <QLabel>
#include <QVBoxLayout>

namespace fw {

DomainControllersPage::DomainControllersPage(AppContext& ctx, QWidget* parent)
    : QWidget(parent), m_ctx(ctx), m_summary(new QLabel(this))
{
    setObjectName(QStringLiteral("frameDomainSpecificData"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addStretch();
}

int DomainControllersPage::loadDomainList(FwError* error)
{
    m_domains.clear();
    auto db = Database::open(m_ctx.connectionString, error);
    if (!db)
        return 0;
    QSqlQuery q = db->run(QStringLiteral("SELECT DomainName FROM vw_ADDomain"), {}, error);
    while (!*error && q.next())
        m_domains.append(q.value(0).toString());
    return m_domains.size();
}

void DomainControllersPage::fillDomainList()
{
    m_summary->setText(m_domains.join(QLatin1Char('\n')));
}

void DomainControllersPage::selectFirstDomain() {}

void DomainControllersPage::setSaveEnabled(bool) {}

} // namespace fw
