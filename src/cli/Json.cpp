#include "Json.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace korvane::cli {

QByteArray JobReportJson(const JobReport& r)
{
    auto text = [](const QString& s) { return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s); };
    QJsonObject o;
    o["source"] = r.source;
    o["target"] = r.target;
    o["profile"] = text(r.profile);
    o["status"] = r.status;
    o["error"] = text(r.error);
    o["duration"] = r.duration;
    o["converted_duration"] = r.converted;
    o["elapsed"] = r.elapsed;
    o["input_size"] = double(r.inputSize);
    o["output_size"] = double(r.outputSize);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace korvane::cli
