#include "app/util/ShellUtil.h"

#include <QFileDialog>
#include <QStringList>

#include <cstring>

namespace {

// Shortest path accepted as a destination: anything below the root.
constexpr qsizetype kShortestPath = 2;

} // namespace

bool BrowseForFolder(QWidget* owner, QString title, char16_t* out, std::size_t capacity)
{
    QFileDialog dialog(owner, title);
    dialog.setFileMode(QFileDialog::Directory);
    // The desktop's own picker where Qt's platform theme offers one (GNOME,
    // KDE), Qt's otherwise; it keeps the title either way.
    dialog.setOptions(QFileDialog::ShowDirsOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return false;

    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    const QString path = chosen.first();
    if (path.size() < kShortestPath || out == nullptr
        || static_cast<std::size_t>(path.size()) + 1 > capacity)
        return false;

    std::memcpy(out, path.utf16(), static_cast<std::size_t>(path.size()) * sizeof(char16_t));
    out[path.size()] = u'\0';
    return true;
}
