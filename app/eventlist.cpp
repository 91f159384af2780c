#include "app/eventlist.h"

#include "app/eventlistmodel.h"
#include "app/shownresult.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

EventList::EventList(const ShownResult *shown, QWidget *parent)
    : QWidget(parent)
    , m_model(new EventListModel(shown, this))
    , m_filter(new QLineEdit(this))
    , m_table(new QTableView(this))
    , m_filterDelay(new QTimer(this))
{
    m_filter->setObjectName(QStringLiteral("eventFilterCtrl"));
    m_filter->setPlaceholderText(tr("Filter by place or reference ID"));
    m_filter->setClearButtonEnabled(true);
    m_table->setObjectName(QStringLiteral("eventTable"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->setAlternatingRowColors(true);
    // Rows of one height, columns as wide as their usual text: nothing is
    // measured row by row, whatever the number of events.
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    const QFontMetrics metrics = m_table->fontMetrics();
    const char *const widest[] = { "2016-11-14 00:02:56 NZDT", "Magnitude", "MLv", "Depth (km)",
                                   "25 km NE of Christchurch", "2016p858000" };
    for (int column = 0; column < EventListModel::ColumnCount; ++column)
        m_table->setColumnWidth(column, metrics.horizontalAdvance(QLatin1String(widest[column])) + 24);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(EventListModel::Time, Qt::DescendingOrder);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(m_filter);
    layout->addWidget(m_table);

    // A big list is narrowed once typing pauses, not at every key.
    m_filterDelay->setSingleShot(true);
    m_filterDelay->setInterval(200);
    connect(m_filter, &QLineEdit::textChanged, m_filterDelay, qOverload<>(&QTimer::start));
    connect(m_filterDelay, &QTimer::timeout, this, [this] {
        const int current = currentEvent();
        m_model->setFilter(m_filter->text());
        selectEvent(current);
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &EventList::rowChanged);
    connect(shown, &ShownResult::selectionChanged, this, &EventList::selectEvent);
    connect(m_table, &QTableView::clicked, this, [this](const QModelIndex &index) {
        if (index.column() == EventListModel::Reference)
            emit pageWanted(m_model->text(m_model->eventAt(index.row()), EventListModel::Reference));
    });
}

int EventList::currentEvent() const
{
    return m_model->eventAt(m_table->currentIndex().row());
}

void EventList::selectEvent(int event)
{
    const int row = m_model->rowOf(event);
    m_selecting = true;
    if (row < 0) {
        m_table->selectionModel()->clear();
    } else {
        const QModelIndex index = m_model->index(row, 0);
        m_table->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_table->scrollTo(index);
    }
    m_selecting = false;
}

void EventList::rowChanged()
{
    const int event = currentEvent();
    if (!m_selecting && event >= 0)
        emit eventSelected(event);
}
