// SPDX-License-Identifier: GPL-3.0-or-later
// Read from the replies' bytes (reply_hex), not from the decoded texts,
// which are spaced out for the panel's status line.

#include "mqtt/readings.h"

#include <QJsonArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cmath>
#include <optional>

#include "owner/live_state.h"
#include "protocol/owner_protocol.h"

namespace {

// The reply's text, less its CR, of a value known now; nothing otherwise.
std::optional<QString> replyText(const QJsonObject &state, const char *query)
{
    const QJsonObject entry = state.value(QString::fromLatin1(query)).toObject();
    if (!entry.value(field::kStatus).isString())
        return std::nullopt;
    QString text
        = QString::fromLatin1(QByteArray::fromHex(entry.value(field::kReplyHex).toString().toLatin1()));
    const qsizetype end = text.indexOf(QLatin1Char('\r'));
    return end < 0 ? text : text.left(end);
}

std::optional<double> number(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

constexpr std::array<std::pair<char, const char *>, 5> kPowerWords
    = {{{'0', "on"}, {'8', "standby"}, {'4', "countdown"}, {'2', "cooling"}, {'1', "fail"}}};

// The lamps each lamp mode lights, as a mask (bit 0 is lamp 1).
constexpr std::array<int, 3> kLampsOfMode = {0xF, 0x9, 0x6};

} // namespace

QJsonObject readings(const QJsonObject &state, const ProblemLimits &limits)
{
    QJsonObject out;
    QJsonArray problems;
    const auto power = replyText(state, "status");
    QJsonValue word, switched;
    if (power && !power->isEmpty()) {
        for (const auto &[digit, name] : kPowerWords) {
            if (power->front() == QLatin1Char(digit))
                word = QString::fromLatin1(name);
        }
        switched = power->front() == QLatin1Char('0') || power->front() == QLatin1Char('4')
            ? QStringLiteral("ON")
            : QStringLiteral("OFF");
        const QString status = stateEntry(state, "status").value(field::kStatus).toString();
        if (power->front() == QLatin1Char('1') || status.contains(QStringLiteral("FAIL"), Qt::CaseInsensitive)
            || status.contains(QStringLiteral("Temperature Warning")))
            problems.append(status);
    }
    out[QStringLiteral("power")] = word;
    out[QStringLiteral("power_switch")] = switched;
    const auto input = replyText(state, "mode");
    out[QStringLiteral("input")]
        = input && !input->trimmed().isEmpty() ? QJsonValue(input->trimmed()) : QJsonValue();

    QJsonValue hours;
    if (const auto text = replyText(state, "lamp-time")) {
        const QStringList fields = text->split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QJsonArray each;
        for (const QString &field : fields) {
            if (const auto value = number(field))
                each.append(*value);
        }
        if (each.size() == 4)
            hours = each;
    }
    out[QStringLiteral("lamp_hours")] = hours;

    std::array<QJsonValue, 2> temperatures;
    if (const auto text = replyText(state, "temp")) {
        const QStringList fields = text->split(QLatin1Char(','));
        for (std::size_t i = 0; i < 2 && i < static_cast<std::size_t>(fields.size()); ++i) {
            if (const auto value = number(fields[static_cast<qsizetype>(i)])) {
                temperatures[i] = *value;
                if (*value > limits.temperatureAbove)
                    problems.append(QStringLiteral("temperature %1 is %2 °C, above %3 °C")
                                        .arg(i + 1)
                                        .arg(*value)
                                        .arg(limits.temperatureAbove));
            }
        }
    }
    out[QStringLiteral("temperature_1")] = temperatures[0];
    out[QStringLiteral("temperature_2")] = temperatures[1];

    QJsonValue pressure;
    const QString pressureStatus = stateEntry(state, "pressure").value(field::kStatus).toString();
    if (pressureStatus.endsWith(QStringLiteral(" hPa"))) {
        if (const auto value = number(pressureStatus.chopped(4))) {
            pressure = *value;
            if (*value < limits.pressureBelow)
                problems.append(QStringLiteral("the pressure is %1 hPa, below %2 hPa")
                                    .arg(*value)
                                    .arg(limits.pressureBelow));
        }
    }
    out[QStringLiteral("pressure_hpa")] = pressure;

    // A lamp the lamp mode should light that is not lit, while on.
    const auto lamps = replyText(state, "lamp-mode");
    if (word == QStringLiteral("on") && lamps && lamps->size() >= 2) {
        const int mode = lamps->at(0).digitValue();
        bool ok = false;
        const int lit = QString(lamps->at(1)).toInt(&ok, 16);
        if (ok && mode >= 0 && mode < static_cast<int>(kLampsOfMode.size())) {
            for (int lamp = 1; lamp <= 4; ++lamp) {
                const int bit = 1 << (lamp - 1);
                if ((kLampsOfMode[static_cast<std::size_t>(mode)] & bit) && !(lit & bit))
                    problems.append(QStringLiteral("lamp %1 is not lit").arg(lamp));
            }
        }
    }
    out[QStringLiteral("problem")] = power ? QJsonValue(!problems.isEmpty()) : QJsonValue();
    out[QStringLiteral("problems")] = problems;
    return out;
}
