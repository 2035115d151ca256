#pragma once
// "Update History": every run that wrote to a card, newest first, as
// varnel-cli history lists them (the same reader and the same texts), the
// selected run's details, and its backup's folder opened in the file
// manager.

#include <QDialog>
#include <filesystem>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QUrl;

namespace varnel::qt {

class HistoryModel;

class HistoryWindow : public QDialog {
public:
    // Reads the history at `path` at once.
    explicit HistoryWindow(const std::filesystem::path& path, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // How a folder is opened (QDesktopServices::openUrl unless replaced);
    // false when it could not be. Tests put their own in place.
    using UrlOpener = std::function<bool(const QUrl&)>;
    static UrlOpener& OpenUrl();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowSelected();
    void OpenBackupFolder();

    HistoryModel* m_model;
    QTableView* m_list;
    QLabel* m_note;
    QPlainTextEdit* m_details;
    QPushButton* m_openFolder;
};

}  // namespace varnel::qt
