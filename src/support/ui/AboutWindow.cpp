#include "support/ui/AboutWindow.h"

#include "context/AppContext.h"
#include "platform/Prompter.h"
#include "support/AboutText.h"
#include "support/Localize.h"
#include "support/ui/LanguageUi.h"
#include "ui_AboutWindow.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace fw {

namespace {

// The tool's logo: a wind-swept "F" on a steel-blue tile.
QPixmap logoPixmap(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, size, size);
    g.setColorAt(0, QColor(0x2b, 0x5d, 0x8a));
    g.setColorAt(1, QColor(0x16, 0x33, 0x52));
    p.setBrush(g);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(1, 1, size - 2, size - 2), size / 6.0, size / 6.0);
    p.setPen(QPen(QColor(0xa8, 0xd4, 0xf0), size / 24.0, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const qreal y = size * (0.30 + 0.18 * i);
        QPainterPath wind;
        wind.moveTo(size * 0.10, y);
        wind.cubicTo(size * 0.30, y - size * 0.08, size * 0.45, y + size * 0.08, size * 0.62 - i * size * 0.05, y);
        p.drawPath(wind);
    }
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(size * 0.62);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(size * 0.30, 0, size * 0.66, size), Qt::AlignCenter, QStringLiteral("F"));
    return pm;
}

} // namespace

AboutWindow::AboutWindow(AppContext& ctx, QWidget* parent, int major, int minor, int revision)
    : QDialog(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::frmAbout>()), m_major(major), m_minor(minor), m_revision(revision)
{
    m_ui->setupUi(this);
    m_ui->picLogo->setPixmap(logoPixmap(72));
    m_ui->lblLegal->setText(aboutLegalText());
    m_ui->lblLegal->setMinimumWidth(400);

    m_mnuSelectLanguage = new QMenu(QStringLiteral("Select Language"), this);
    m_mnuSelectLanguage->setObjectName(QStringLiteral("mnuSelectLanguage"));
    auto* item0 = m_mnuSelectLanguage->addAction(QString());
    item0->setObjectName(QStringLiteral("mnuLanguageList"));
    item0->setProperty("Index", 0);
    m_mnuLanguageList.append(item0);
    connect(m_mnuSelectLanguage, &QMenu::triggered, this, &AboutWindow::mnuLanguageList_Click);

    m_ui->lblChangeLanguage->installEventFilter(this);
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &AboutWindow::cmdOK_Click);
    adjustSize(); // tall enough for the whole of the wrapped notices
}

AboutWindow::~AboutWindow() = default;

void AboutWindow::Form_Load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    auto step = [this](const std::function<void()>& statement) {
        try {
            statement();
        } catch (const std::exception& e) {
            m_ctx.prompter().inform(QStringLiteral("Error in FormLoad routine:") + QString::fromUtf8(e.what()));
        }
    };
    step([this] { m_ui->lblVersion->setText(aboutVersionText(m_major, m_minor, m_revision)); });
    step([this] { buildLanguageMenu(); });
}

void AboutWindow::buildLanguageMenu()
{
    InitalizeLanguagesAndFonts(m_ctx);
    const QList<LanguageMenuItem> items = languageMenuItems(languageState(m_ctx).AvailableLanguages);
    for (int i = 0; i < items.size(); ++i) {
        if (i >= m_mnuLanguageList.size()) {
            auto* item = m_mnuSelectLanguage->addAction(QString());
            item->setObjectName(QStringLiteral("mnuLanguageList"));
            item->setProperty("Index", i);
            m_mnuLanguageList.append(item);
        }
        m_mnuLanguageList[i]->setText(items[i].caption);
        m_mnuLanguageList[i]->setData(items[i].tag);
    }
}

void AboutWindow::cmdOK_Click()
{
    hide();
}

void AboutWindow::lblChangeLanguage_Click()
{
    m_mnuSelectLanguage->popup(m_ui->lblChangeLanguage->mapToGlobal(m_ui->lblChangeLanguage->rect().bottomLeft()));
}

void AboutWindow::mnuLanguageList_Click(QAction* item)
{
    if (!item || !m_mnuLanguageList.contains(item))
        return;
    bool ok = false;
    const qint32 langId = item->data().toString().toInt(&ok);
    if (!ok)
        return;
    SwitchLanguage(m_ctx, this, langId);
    adjustSize(); // another font may need more room
}

bool AboutWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->lblChangeLanguage && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        lblChangeLanguage_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace fw
