#include "ui/qt/history_window.h"

#include <QAbstractTableModel>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/qt/art.h"
#include "ui/qt/plain_text.h"
#include "update/history.h"
#include "update/history_text.h"

namespace varnel::qt {

// The records as rows, each column's text made when it is drawn.
class HistoryModel : public QAbstractTableModel {
public:
    explicit HistoryModel(QObject* parent) : QAbstractTableModel(parent) {}

    std::vector<HistoryRecord> records;

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(records.size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(kHistoryColumns.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
        return Plain(HistoryColumnText(records[static_cast<size_t>(index.row())], static_cast<size_t>(index.column())));
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
            static_cast<size_t>(section) >= kHistoryColumns.size())
            return {};
        return QString::fromUtf8(kHistoryColumns[static_cast<size_t>(section)]);
    }
};

HistoryWindow::UrlOpener& HistoryWindow::OpenUrl() {
    static UrlOpener opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return opener;
}

HistoryWindow::HistoryWindow(const std::filesystem::path& path, QWidget* parent)
    : QDialog(parent), m_model(new HistoryModel(this)) {
    setObjectName(QStringLiteral("historyWindow"));
    setWindowTitle(QStringLiteral("Update History"));
    setWindowIcon(AppIcon());
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // Newest first, read as a stream; a damaged line is skipped and said.
    std::vector<std::string> warnings;
    const Result<> read = ReadHistoryRecordsNewestFirst(
        path,
        [this](std::string_view, HistoryRecord& record) {
            m_model->records.push_back(std::move(record));
            return true;
        },
        [&warnings](const std::string& warning) { warnings.push_back(warning); });

    m_note = PlainLabel(QString(), this);
    m_note->setObjectName(QStringLiteral("historyNote"));
    m_note->setWordWrap(true);
    QString note;
    if (!read) note = QStringLiteral("The update history cannot be read: ") + Plain(read.Reason());
    else if (m_model->records.empty()) note = Plain(NoHistoryText("", path) + ".");
    else note = Plain(path.string());
    if (!warnings.empty()) {
        note += QStringLiteral("\n%1 damaged line(s) skipped: ").arg(warnings.size()) + Plain(warnings.front());
        if (warnings.size() > 1) note += QStringLiteral(" (and %1 more)").arg(warnings.size() - 1);
    }
    m_note->setText(note);

    m_list = new QTableView(this);
    m_list->setObjectName(QStringLiteral("historyList"));
    m_list->setModel(m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->horizontalHeader()->setHighlightSections(false);
    const QFontMetrics metrics(m_list->font());
    const int pad = metrics.averageCharWidth() * 3;
    m_list->setColumnWidth(0, metrics.horizontalAdvance(QStringLiteral("2026-12-10T20:47:51Z")) + pad);
    m_list->setColumnWidth(1, metrics.horizontalAdvance(QStringLiteral("pda restore")) + pad);
    m_list->setColumnWidth(2, metrics.horizontalAdvance(QStringLiteral("00-60-1D-12-34-56")) + pad);
    m_list->setColumnWidth(3, metrics.horizontalAdvance(QStringLiteral("interrupted")) + pad);
    m_list->setColumnWidth(4, metrics.horizontalAdvance(QString::fromUtf8("Primary 1.3.6 \u2192 1.4.2, Station 1.5.0 \u2192 1.7.4")) + pad);
    m_list->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);

    m_details = new QPlainTextEdit(this);
    m_details->setObjectName(QStringLiteral("historyDetails"));
    m_details->setReadOnly(true);
    m_details->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_details->setMinimumHeight(metrics.lineSpacing() * 12);

    m_openFolder = new QPushButton(QStringLiteral("Open Backup Folder"), this);
    m_openFolder->setObjectName(QStringLiteral("openBackupFolder"));
    m_openFolder->setToolTip(QStringLiteral("Show the folder that holds the selected run's backup of the card's PDA"));
    m_openFolder->setAutoDefault(false);
    m_openFolder->setEnabled(false);
    connect(m_openFolder, &QPushButton::clicked, this, [this] { OpenBackupFolder(); });
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_openFolder);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_note);
    layout->addWidget(m_list, 3);
    layout->addWidget(m_details, 2);
    layout->addLayout(buttons);

    int width = 0;
    for (int c = 0; c < m_model->columnCount({}); ++c) width += m_list->columnWidth(c);
    resize(std::max(width + metrics.averageCharWidth() * 40, 700), metrics.lineSpacing() * 36);

    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { ShowSelected(); });
    if (!m_model->records.empty()) m_list->selectRow(0);
    m_list->setFocus();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::ShowSelected() {
    const QModelIndex current = m_list->currentIndex();
    if (!current.isValid()) {
        m_details->clear();
        m_openFolder->setEnabled(false);
        return;
    }
    const HistoryRecord& record = m_model->records[static_cast<size_t>(current.row())];
    m_details->setPlainText(Plain(HistoryDetailsText(record)));
    m_openFolder->setEnabled(HistoryBackupFolder(record).has_value());
}

void HistoryWindow::OpenBackupFolder() {
    const QModelIndex current = m_list->currentIndex();
    if (!current.isValid()) return;
    const auto folder = HistoryBackupFolder(m_model->records[static_cast<size_t>(current.row())]);
    if (!folder) return;
    const QString name = QFile::decodeName(QByteArray::fromStdString(folder->string()));
    const auto say = [this](const QString& text) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Backup Folder"), text, QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    };
    if (!QDir(name).exists()) return say(QStringLiteral("The folder %1 no longer exists.").arg(name));
    if (!OpenUrl()(QUrl::fromLocalFile(name))) say(QStringLiteral("The folder %1 could not be opened.").arg(name));
}

}  // namespace varnel::qt
