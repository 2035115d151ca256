#include "ui/qt/history_window.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
#include <optional>

#include "ui/qt/vector_art.h"
#include "ui/qt/plain_text.h"
#include "update/history.h"
#include "update/history_text.h"

namespace varnel::qt {

// The records as rows, each column's text made when it is drawn. They are
// read a page at a time, newest first, as the list is scrolled to its end
// (canFetchMore, fetchMore): a long history opens at once, and only the
// records scrolled to are kept.
class HistoryModel : public QAbstractTableModel {
public:
    HistoryModel(const std::filesystem::path& path, QObject* parent) : QAbstractTableModel(parent), reader(path) {}

    static constexpr size_t kPage = 200;
    std::vector<HistoryRecord> records;
    HistoryReader reader;
    std::optional<std::string> failure;  // why the reading stopped, when it failed
    std::vector<std::string> warnings;
    std::function<void()> onRead;  // after each page

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(records.size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(kHistoryColumns.size());
    }
    bool canFetchMore(const QModelIndex& parent) const override { return !parent.isValid() && !reader.Done(); }
    void fetchMore(const QModelIndex& parent) override {
        if (parent.isValid() || reader.Done()) return;
        std::vector<HistoryRecord> page;
        const Result<> read = reader.Read(
            [&page](std::string_view, HistoryRecord& record) {
                page.push_back(std::move(record));
                return page.size() < kPage;
            },
            [this](const std::string& warning) { warnings.push_back(warning); });
        if (!read) failure = read.Reason();
        if (!page.empty()) {
            const int first = static_cast<int>(records.size());
            beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
            for (HistoryRecord& record : page) records.push_back(std::move(record));
            endInsertRows();
        }
        if (onRead) onRead();
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
        const QString text =
            Plain(HistoryColumnText(records[static_cast<size_t>(index.row())], static_cast<size_t>(index.column())));
        // The time as the user reads times: local, in the user's format; the
        // record's UTC time in its tooltip.
        if (index.column() == 0 && role == Qt::DisplayRole) {
            const QDateTime utc = QDateTime::fromString(text, Qt::ISODate);
            if (utc.isValid()) return QLocale::system().toString(utc.toLocalTime(), QLocale::ShortFormat);
        }
        return text;
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
    : QDialog(parent), m_model(new HistoryModel(path, this)) {
    setObjectName(QStringLiteral("historyWindow"));
    setWindowTitle(QStringLiteral("Update History"));
    setWindowIcon(AppIcon());
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // Newest first, read as a stream a page at a time; a damaged line is
    // skipped and said.
    m_note = PlainLabel(QString(), this);
    m_note->setObjectName(QStringLiteral("historyNote"));
    m_note->setWordWrap(true);
    m_model->onRead = [this, path] {
        QString note;
        if (m_model->failure) note = QStringLiteral("The update history cannot be read: ") + Plain(*m_model->failure);
        else if (m_model->records.empty()) note = Plain(NoHistoryText("", path) + ".");
        else note = QStringLiteral("The runs recorded in ") + Plain(path.string());
        const std::vector<std::string>& warnings = m_model->warnings;
        if (!warnings.empty()) {
            note += QStringLiteral("\n%1 damaged line(s) skipped: ").arg(warnings.size()) + Plain(warnings.front());
            if (warnings.size() > 1) note += QStringLiteral(" (and %1 more)").arg(warnings.size() - 1);
        }
        m_note->setText(note);
    };
    m_model->fetchMore({});

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
    m_list->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
    // Each column as wide as what it shows (the backup's path takes the rest).
    m_list->resizeColumnsToContents();

    m_details = new QPlainTextEdit(this);
    m_details->setObjectName(QStringLiteral("historyDetails"));
    m_details->setReadOnly(true);
    m_details->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_details->setMinimumHeight(metrics.lineSpacing() * 5);

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
    // The list takes the room the window is given; the details keep theirs.
    layout->addWidget(m_list, 1);
    layout->addWidget(m_details, 0);
    layout->addLayout(buttons);

    int width = 0;
    for (int c = 0; c < m_model->columnCount({}); ++c) width += m_list->columnWidth(c);
    QSize size(std::max(width + metrics.averageCharWidth() * 4, 700), metrics.lineSpacing() * 36);
    // Never wider or higher than the screen's room, borders included.
    if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    resize(size);

    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { ShowSelected(); });
    if (!m_model->records.empty()) m_list->selectRow(0);
    m_list->setFocus();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::resizeEvent(QResizeEvent* event) {
    // The details take at most a third of the window, and twelve lines: the
    // list keeps the rest.
    const QFontMetrics metrics(m_details->font());
    m_details->setMaximumHeight(
        std::max(m_details->minimumHeight(), std::min(metrics.lineSpacing() * 12, height() / 3)));
    QDialog::resizeEvent(event);
}

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
