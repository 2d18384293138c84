#include "profile/profile_writer.h"

#include <QJsonValue>

#include <utility>
#include <vector>

#include "core/replace_file.h"
#include "profile/profile_fields.h"
#include "profile/profile_reader.h"

namespace velmora {

using namespace profile_fields;

namespace {

bool Fail(QString* error, const QString& message) {
  if (error) *error = message;
  return false;
}

void AppendMember(QByteArray& out, int indent, const char* key, const QByteArray& value, bool last) {
  out += QByteArray(indent, ' ');
  out += JsonText(QJsonValue(U(key)));
  out += ": ";
  out += value;
  out += last ? "\n" : ",\n";
}

template <typename Field, typename ValueOf>
QByteArray ObjectText(const std::vector<Field>& fields, ValueOf value_of) {
  QByteArray out = "{\n";
  for (std::size_t i = 0; i < fields.size(); ++i)
    AppendMember(out, 8, fields[i].key, JsonText(value_of(fields[i])), i + 1 == fields.size());
  out += "    }";
  return out;
}

}  // namespace

QByteArray ProfileJson(const Profile& p) {
  std::vector<std::pair<const char*, QByteArray>> members{
      {"format", JsonText(QJsonValue(U(kProfileFormat)))},
      {"version", JsonText(QJsonValue(kProfileVersion))},
  };
  if (p.config) {
    members.emplace_back("config", ObjectText(ConfigFields(), [&](const ConfigField& f) {
                           return FieldValue(f, *p.config);
                         }));
  }
  if (p.mqtt) {
    members.emplace_back("mqtt", ObjectText(MqttFields(), [&](const MqttField& f) {
                           return MqttValue(f, *p.mqtt);
                         }));
  }
  if (!p.firmware.isEmpty()) members.emplace_back("firmware", JsonText(QJsonValue(p.firmware)));

  QByteArray out = "{\n";
  for (std::size_t i = 0; i < members.size(); ++i)
    AppendMember(out, 4, members[i].first, members[i].second, i + 1 == members.size());
  out += "}\n";
  return out;
}

bool WriteProfileFile(const QString& path, const Profile& p, QString* error) {
  const QByteArray json = ProfileJson(p);
  // A file the reader would refuse is not written: the form holds something no profile can.
  if (const ProfileResult back = ParseProfile(json); !back.profile) return Fail(error, back.error);

  // Credentials are never readable by others, not even for a moment.
  return ReplaceFileContents(path, json, p.mqtt ? FileAccess::OwnerOnly : FileAccess::Shared, error);
}

}  // namespace velmora
