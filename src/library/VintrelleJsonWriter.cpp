#include "VintrelleJsonWriter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QVariant>

#include <cmath>

namespace {

const char hex[] = "0123456789abcdef";

// UTF-8 with JSON's escapes; `text` holds no lone surrogate.
void appendEscapedUtf8(QByteArray &out, QStringView text)
{
    const QByteArray utf8 = text.toUtf8();
    const char *run = utf8.constData(); // the current stretch that needs no escaping
    const char *end = run + utf8.size();
    for (const char *at = run; at != end; ++at) {
        const unsigned char c = static_cast<unsigned char>(*at);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(run, at - run);
        run = at + 1;
        switch (c) {
        case '"': out.append("\\\"", 2); break;
        case '\\': out.append("\\\\", 2); break;
        case '\n': out.append("\\n", 2); break;
        case '\r': out.append("\\r", 2); break;
        case '\t': out.append("\\t", 2); break;
        case '\b': out.append("\\b", 2); break;
        case '\f': out.append("\\f", 2); break;
        default: {
            const char escaped[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
            out.append(escaped, sizeof escaped);
        }
        }
    }
    out.append(run, end - run);
}

void appendString(QByteArray &out, const QString &text)
{
    // UTF-8 has no form for a lone surrogate (it would come out as "?"), so each is written as a
    // \uXXXX escape, which reads back as the same UTF-16 unit.
    out.append('"');
    const QChar *run = text.constData();
    const QChar *end = run + text.size();
    for (const QChar *at = run; at != end; ++at) {
        if (!at->isSurrogate())
            continue;
        if (at->isHighSurrogate() && at + 1 != end && (at + 1)->isLowSurrogate()) {
            ++at;
            continue;
        }
        appendEscapedUtf8(out, QStringView(run, at));
        const char16_t unit = at->unicode();
        const char escaped[] = {'\\', 'u', hex[unit >> 12], hex[(unit >> 8) & 0xF], hex[(unit >> 4) & 0xF], hex[unit & 0xF]};
        out.append(escaped, sizeof escaped);
        run = at + 1;
    }
    appendEscapedUtf8(out, QStringView(run, end));
    out.append('"');
}

void appendNumber(QByteArray &out, const QJsonValue &value)
{
    const QVariant number = value.toVariant();
    if (number.typeId() == QMetaType::LongLong) {
        out.append(QByteArray::number(number.toLongLong()));
        return;
    }
    const double d = value.toDouble();
    if (std::isfinite(d))
        out.append(QByteArray::number(d, 'g', QLocale::FloatingPointShortest));
    else
        out.append("null"); // JSON has no infinities; the parser's own writer does the same
}

void appendValue(QByteArray &out, const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        out.append("null", 4);
        break;
    case QJsonValue::Bool:
        out.append(value.toBool() ? "true" : "false");
        break;
    case QJsonValue::Double:
        appendNumber(out, value);
        break;
    case QJsonValue::String:
        appendString(out, value.toString());
        break;
    case QJsonValue::Array: {
        out.append('[');
        bool first = true;
        for (const QJsonValue &element : value.toArray()) {
            if (!first)
                out.append(',');
            first = false;
            appendValue(out, element);
        }
        out.append(']');
        break;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        out.append('{');
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            if (it != object.constBegin())
                out.append(',');
            appendString(out, it.key());
            out.append(':');
            appendValue(out, it.value());
        }
        out.append('}');
        break;
    }
    }
}

} // namespace

QByteArray VintrelleCompactJson(const QJsonValue &value, qsizetype expectedSize)
{
    QByteArray out;
    out.reserve(expectedSize > 0 ? expectedSize : 1024);
    appendValue(out, value);
    return out;
}
