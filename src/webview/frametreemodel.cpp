#include "webview/frametreemodel.h"

#include <QVector>
#include <vector>

class FrameTreeModel::Item
{
public:
    Item(const QVariantList &columns, Item *parent)
        : m_columns(columns)
        , m_parent(parent)
    {
    }

    Item *appendChild(const QVariantList &columns)
    {
        m_children.push_back(std::make_unique<Item>(columns, this));
        return m_children.back().get();
    }

    Item *child(int row) const
    {
        return row >= 0 && row < childCount() ? m_children[size_t(row)].get() : nullptr;
    }
    Item *lastChild() const { return m_children.empty() ? nullptr : m_children.back().get(); }
    int childCount() const { return int(m_children.size()); }
    int columnCount() const { return m_columns.size(); }
    QVariant value(int column) const { return m_columns.value(column); }
    Item *parent() const { return m_parent; }

    int row() const
    {
        if (!m_parent)
            return 0;
        const auto &siblings = m_parent->m_children;
        for (size_t i = 0; i < siblings.size(); ++i) {
            if (siblings[i].get() == this)
                return int(i);
        }
        return 0;
    }

private:
    QVariantList m_columns;
    std::vector<std::unique_ptr<Item>> m_children;
    Item *m_parent;
};

FrameTreeModel::FrameTreeModel(const QString &description, QObject *parent)
    : QAbstractItemModel(parent)
    , m_root(std::make_unique<Item>(
          QVariantList { QStringLiteral("Id / Name"), QStringLiteral("URL") }, nullptr))
{
    build(description);
}

FrameTreeModel::~FrameTreeModel() = default;

void FrameTreeModel::build(const QString &description)
{
    QVector<Item *> parents { m_root.get() };
    QVector<int> indentations { 0 };
    const QStringList lines = description.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        int indentation = 0;
        while (indentation < line.size() && line.at(indentation) == QLatin1Char(' '))
            ++indentation;
        const QString data = line.mid(indentation).trimmed();
        if (data.isEmpty())
            continue;
        QVariantList columns;
        const QStringList parts = data.split(QLatin1Char('\t'), Qt::SkipEmptyParts);
        for (const QString &part : parts)
            columns.append(part);

        if (indentation > indentations.last()) {
            // Deeper than the last line: the line belongs under the item added last, if any.
            if (Item *last = parents.last()->lastChild()) {
                parents.append(last);
                indentations.append(indentation);
            }
        } else {
            // The root's indentation is 0, so the root itself is never left.
            while (indentation < indentations.last() && parents.size() > 1) {
                parents.removeLast();
                indentations.removeLast();
            }
        }
        parents.last()->appendChild(columns);
    }
}

FrameTreeModel::Item *FrameTreeModel::itemAt(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Item *>(index.internalPointer()) : m_root.get();
}

QVariant FrameTreeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return itemAt(index)->value(index.column());
}

Qt::ItemFlags FrameTreeModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

QVariant FrameTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return m_root->value(section);
}

QModelIndex FrameTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return {};
    Item *child = itemAt(parent)->child(row);
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex FrameTreeModel::parent(const QModelIndex &index) const
{
    if (!index.isValid())
        return {};
    Item *parentItem = itemAt(index)->parent();
    if (!parentItem || parentItem == m_root.get())
        return {};
    return createIndex(parentItem->row(), 0, parentItem);
}

int FrameTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    return itemAt(parent)->childCount();
}

int FrameTreeModel::columnCount(const QModelIndex &parent) const
{
    return itemAt(parent)->columnCount();
}
