#include "app/resultitems.h"

#include <QFont>
#include <QSharedData>

#include <cstdint>

namespace {

// The texts of an event's items, one after another.
struct Block : QSharedData
{
    QByteArray bytes;
};

class BytesItem : public QTreeWidgetItem
{
public:
    // Where an item's texts lie in the block: column 1 right after column 0.
    struct Span
    {
        std::uint32_t from = 0;
        std::uint32_t size0 = 0;
        std::uint32_t size1 = 0;
    };

    // With both columns kept, or only column 0.
    BytesItem(Block *block, Span span, bool keepsColumn1)
        : m_block(block)
        , m_span(span)
        , m_kept { true, keepsColumn1 }
    {
    }

    QVariant data(int column, int role) const override
    {
        if (isKept(column, role)) {
            const char *const bytes = m_block->bytes.constData() + m_span.from;
            return column == 0 ? QString::fromLatin1(bytes, m_span.size0)
                               : QString::fromLatin1(bytes + m_span.size0, m_span.size1);
        }
        return QTreeWidgetItem::data(column, role);
    }

    void setData(int column, int role, const QVariant &value) override
    {
        if (isKept(column, role))
            m_kept[column] = false;
        QTreeWidgetItem::setData(column, role, value);
    }

    QTreeWidgetItem *clone() const override
    {
        // A plain copy, with the texts as variants.
        auto *copy = new QTreeWidgetItem(*this);
        for (int column = 0; column < 2; ++column) {
            if (m_kept[column])
                copy->setData(column, Qt::DisplayRole, data(column, Qt::DisplayRole));
        }
        for (int i = 0; i < childCount(); ++i)
            copy->addChild(child(i)->clone());
        return copy;
    }

private:
    bool isKept(int column, int role) const
    {
        return (role == Qt::DisplayRole || role == Qt::EditRole) && column >= 0 && column < 2 && m_kept[column];
    }

    // Kept small: a big result has a million items. This fits them in 128
    // bytes of the allocator's.
    const QExplicitlySharedDataPointer<Block> m_block;
    const Span m_span;
    bool m_kept[2];
};

} // namespace

QTreeWidgetItem *ResultItems::eventItem(const std::string &eventId, const QuakeFieldMap &fields, const QFont &font)
{
    std::size_t size = eventId.size();
    for (const auto &[label, value] : fields)
        size += value.empty() ? 0 : label.size() + value.size();
    auto *block = new Block;
    QByteArray &bytes = block->bytes;
    bytes.reserve(qsizetype(size));
    auto append = [&bytes](const std::string &text) {
        bytes.append(text.data(), qsizetype(text.size()));
        return std::uint32_t(text.size());
    };

    auto *event = new BytesItem(block, { 0, append(eventId), 0 }, false);
    event->setFont(0, font);
    QList<QTreeWidgetItem *> rows;
    rows.reserve(qsizetype(fields.size()));
    for (const auto &[label, value] : fields) {
        if (value.empty())
            continue;
        const auto from = std::uint32_t(bytes.size());
        auto *row = new BytesItem(block, { from, append(label), append(value) }, true);
        // Without this, expandAll() marks every row as expanded too, keeping a
        // persistent index for each: three quarters of a big tree's cost.
        row->setFlags(row->flags() | Qt::ItemNeverHasChildren);
        rows.append(row);
    }
    event->addChildren(rows);
    return event;
}

int ResultItems::rowOf(const QuakeFieldMap &fields, const std::string &label)
{
    // One row per non-empty field, in the map's order.
    int row = 0;
    for (const auto &[name, value] : fields) {
        if (name == label)
            return value.empty() ? -1 : row;
        row += value.empty() ? 0 : 1;
    }
    return -1;
}
