#include "tests/ui_support/list_entries.h"

#include <QAbstractItemView>

namespace kestrix::test {

std::vector<std::string> listEntries(const QAbstractItemView* list) {
    std::vector<std::string> out;
    const QAbstractItemModel* model = list->model();
    for (int row = 0; row < model->rowCount(list->rootIndex()); ++row)
        out.push_back(model->index(row, 0, list->rootIndex()).data().toString().toStdString());
    return out;
}

}  // namespace kestrix::test
