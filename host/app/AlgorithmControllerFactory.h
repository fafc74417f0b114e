#pragma once

#include "host/app/AlgorithmUtils.h"
#include "host/app/DataController.h"
#include "host/core/Log.h"
#include "host/data/DataList.h"

#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <vector>

namespace Dravelin {

class Algorithm;
class AlgorithmController;

// The user interfaces of one library: controllers for algorithms (create) and data controllers
// offered while matching data is loaded.
//
// registerDataController<T>(name) needs
//   static bool T::createCompatible(const DataList& data, DataController** out);
// A name whose parsed, lower-cased form (AlgorithmUtils::parseAlgorithmName) is already listed
// by this factory or by any controller factory of the global registry is skipped silently.
class AlgorithmControllerFactory
{
public:
    // Called with the data, the name asked for and an out-pointer: passes the out-pointer to
    // createCompatible only when the name asked for is the registered one (or its parsed form),
    // null otherwise; returns the registered name when compatible, else an empty text.
    using DataControllerCreator =
        std::function<QString(const DataList& data, const QString& requested, DataController** out)>;

    explicit AlgorithmControllerFactory(QString name = QString());
    virtual ~AlgorithmControllerFactory();
    AlgorithmControllerFactory(const AlgorithmControllerFactory&) = delete;
    AlgorithmControllerFactory& operator=(const AlgorithmControllerFactory&) = delete;

    const QString& name() const { return m_name; }

    // A new controller for `algorithm` (the caller owns it), or null when this factory has none.
    virtual AlgorithmController* create(Algorithm* algorithm) const;

    template <typename T>
    bool registerDataController(const QString& name);

    // Names of the data controllers that accept `data`, in registration order.
    virtual QStringList compatibleDataControllers(const DataList& data) const;
    // A new data controller called `name` for `data` (the caller owns it), or null.
    virtual DataController* createDataController(const QString& name, const DataList& data) const;

    QStringList dataControllerNames() const;
    // Whether a data controller with the same parsed, lower-cased name is registered here.
    bool listsDataController(const QString& name) const;

protected:
    bool addDataController(const QString& name, DataControllerCreator creator);

private:
    struct Entry
    {
        QString name;
        DataControllerCreator creator;
    };
    QString m_name;
    std::vector<Entry> m_dataControllers;
};

template <typename T>
bool AlgorithmControllerFactory::registerDataController(const QString& name)
{
    const QString parsed = AlgorithmUtils::parseAlgorithmName(name);
    return addDataController(
        name, [name, parsed](const DataList& data, const QString& requested, DataController** out) -> QString {
            const bool wanted = requested == name || requested == parsed;
            try {
                return T::createCompatible(data, wanted ? out : nullptr) ? name : QString();
            } catch (const std::exception& e) {
                Log::log(4, "AlgorithmControllerFactory",
                         "Cannot create data controller " + name + ": " + QString::fromUtf8(e.what()));
            } catch (...) {
                Log::log(4, "AlgorithmControllerFactory",
                         "Cannot create data controller " + name + ": unknown exception");
            }
            return QString();
        });
}

}  // namespace Dravelin
