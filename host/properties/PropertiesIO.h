#pragma once

#include "host/properties/Properties.h"

#include <QString>

#include <memory>

namespace Dravelin {

// Reads and writes Properties blocks as XML files meant to be read and edited by people:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <!-- optional comment -->
//   <propertyfile version="1">
//     <property name="Profile">
//       <param name="profileName">Basic Profile</param>
//       <param name="count" type="int" label="Count">3</param>
//       <property name="nested"> ... </property>
//     </property>
//   </propertyfile>
//
// - The root holds exactly one <property> block; blocks nest to any depth.
// - <param> text is the value. "type" is "text" (the default when absent), "int", "double" or
//   "bool" ("true"/"false"); any other attribute is a free-form parameter attribute.
// - Parameters keep their order; a repeated name is kept as a repeated parameter.
// - Unknown elements are skipped. A malformed file or a value that does not fit its type
//   makes the whole load fail, so a half-read file never replaces a configuration.
class PropertiesIO
{
public:
    // Null when the file cannot be read or is not such a file (the reason is logged, level 4).
    static std::unique_ptr<Properties> loadFromXML(const QString& path);
    static std::unique_ptr<Properties> fromXmlString(const QString& xml, QString* error = nullptr);

    // Writes atomically (temporary file + rename): the file is either the old one or the new
    // one, never a partial one. format 0 indents for reading; 1 writes compactly.
    // `comment`, when not empty, is written as an XML comment before the root element.
    static bool saveToXML(const Properties& properties, const QString& path, int format = 0,
                          const QString& comment = QString());
    static QString toXmlString(const Properties& properties, int format = 0, const QString& comment = QString());
};

}  // namespace Dravelin
