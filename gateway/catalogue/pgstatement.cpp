#include "catalogue/pgstatement.h"

#include "catalogue/postgrescatalogue.h"

using namespace PgStatement;

QString PgStatement::serverWords(const PGconn *connection)
{
    return QString::fromUtf8(PQerrorMessage(connection)).simplified();
}

QByteArray PgStatement::textOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Double:
        return QByteArray::number(value.toDouble(), 'g', 17);
    case QMetaType::Float:
        return QByteArray::number(double(value.toFloat()), 'g', 17);
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toByteArray();
    default:
        return value.toString().toUtf8();
    }
}

PgStatement::Parameters::Parameters(const QVariantList &values)
{
        m_texts.reserve(std::size_t(values.size()));
        for (const QVariant &value : values) {
            m_texts.push_back(value.isNull() ? QByteArray() : textOf(value));
            m_pointers.push_back(value.isNull() ? nullptr : m_texts.back().constData());
        }
}

std::vector<std::optional<QByteArray>> PgStatement::rowOf(const PGresult *result, int row)
{
    std::vector<std::optional<QByteArray>> values(std::size_t(PQnfields(result)));
    for (int column = 0; column < PQnfields(result); ++column) {
        if (!PQgetisnull(result, row, column))
            values[std::size_t(column)] = QByteArray(PQgetvalue(result, row, column), PQgetlength(result, row, column));
    }
    return values;
}

std::optional<double> PgStatement::numberOf(const std::optional<QByteArray> &text)
{
    return text ? std::optional<double>(text->toDouble()) : std::nullopt;
}

QByteArray PostgresCatalogue::numbered(const QString &sql)
{
    // Marks outside quotes; the portable SQL has no "?" in its literals.
    QByteArray out;
    const QByteArray in = sql.toUtf8();
    out.reserve(in.size() + 16);
    int mark = 0;
    bool quoted = false;
    for (const char c : in) {
        if (c == '\'')
            quoted = !quoted;
        if (c == '?' && !quoted)
            out += '$' + QByteArray::number(++mark);
        else
            out += c;
    }
    return out;
}

bool PostgresCatalogue::run(PGconn *connection, const QString &sql, const QVariantList &values, Rows *rows, QString *error,
                            QByteArray *sqlState)
{
    const Parameters parameters(values);
    const Result owned(PQexecParams(connection, numbered(sql).constData(), parameters.count(), nullptr,
                                    parameters.values(), nullptr, nullptr, 0));
    PGresult *result = owned.get();
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        if (sqlState)
            *sqlState = QByteArray(PQresultErrorField(result, PG_DIAG_SQLSTATE));
        *error = QString::fromUtf8(PQresultErrorMessage(result)).simplified();
        if (error->isEmpty())
            *error = serverWords(connection);
        return false;
    }
    if (rows) {
        rows->affected = QByteArray(PQcmdTuples(result)).toLongLong();
        rows->rows.clear();
        for (int r = 0; r < PQntuples(result); ++r)
            rows->rows.push_back(rowOf(result, r));
    }
    return true;
}

