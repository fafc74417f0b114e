#include "host/app/DefaultAlgorithmController.h"

#include "host/app/Algorithm.h"
#include "host/app/ApplicationController.h"
#include "host/properties/Parameter.h"
#include "host/core/Log.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

namespace Dravelin {

namespace {

// Runs `update` whenever the parameter changes; returns the disconnection.
template <typename W>
std::function<void()> follow(ParameterBase* parameter, W* editor, std::function<void(W*)> update)
{
    QPointer<W> guard(editor);
    const int handle = parameter->signalValueChanged.connect([guard, update] {
        if (guard) {
            QSignalBlocker block(guard.data());
            update(guard.data());
        }
    });
    return [parameter, handle] { parameter->signalValueChanged.disconnect(handle); };
}

double attributeNumber(const ParameterBase* p, const char* key, double fallback)
{
    bool ok = false;
    const double v = p->attribute(QLatin1String(key)).toDouble(&ok);
    return ok ? v : fallback;
}

QVariant storedValue(const ParameterBase* p)
{
    Properties block;
    p->configuration(&block);
    return block.param(p->name());
}

void storeValue(ParameterBase* p, const QVariant& value)
{
    Properties block;
    block.setParam(p->name(), value);
    p->configure(&block);
}

}  // namespace

DefaultAlgorithmController::DefaultAlgorithmController(Algorithm* algorithm, QWidget* parent)
    : QWidget(parent), AlgorithmController(algorithm)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_form = new QFormLayout;
    m_layout->addLayout(m_form);
    auto* row = new QHBoxLayout;
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_computeButton = new QPushButton(tr("Compute"), this);
    m_computeButton->setObjectName(QStringLiteral("computeButton"));
    row->addWidget(m_status, 1);
    row->addWidget(m_computeButton);
    m_layout->addLayout(row);
    connect(m_computeButton, &QPushButton::clicked, this, &DefaultAlgorithmController::compute);
}

DefaultAlgorithmController::~DefaultAlgorithmController()
{
    clearEditors();
}

void DefaultAlgorithmController::clearEditors()
{
    for (auto& d : m_disconnect)
        d();
    m_disconnect.clear();
}

void DefaultAlgorithmController::init()
{
    if (m_initialized || !algorithm())
        return;
    m_initialized = true;
    for (ParameterBase* p : algorithm()->parameters()) {
        if (p->attribute(QStringLiteral("hidden")) == QLatin1String("true") || p->name() == QLatin1String("location"))
            continue;
        QWidget* editor = createEditor(p);
        if (!editor)
            continue;
        editor->setObjectName(p->name());
        editor->setToolTip(p->attribute(QStringLiteral("tooltip")));
        const QString label = p->attribute(QStringLiteral("label"));
        m_form->addRow(label.isEmpty() ? p->name() : label, editor);
    }
}

QWidget* DefaultAlgorithmController::createEditor(ParameterBase* p)
{
    const QStringList values = p->attribute(QStringLiteral("values")).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    if (auto* text = dynamic_cast<Parameter<QString>*>(p)) {
        if (!values.isEmpty()) {
            auto* combo = new QComboBox(this);
            combo->addItems(values);
            combo->setCurrentText(text->value());
            connect(combo, &QComboBox::currentTextChanged, this, [text](const QString& v) { text->setValue(v); });
            m_disconnect.push_back(
                follow<QComboBox>(p, combo, [text](QComboBox* c) { c->setCurrentText(text->value()); }));
            return combo;
        }
        auto* edit = new QLineEdit(text->value(), this);
        connect(edit, &QLineEdit::textEdited, this, [text](const QString& v) { text->setValue(v); });
        m_disconnect.push_back(follow<QLineEdit>(p, edit, [text](QLineEdit* e) { e->setText(text->value()); }));
        return edit;
    }
    if (auto* integer = dynamic_cast<Parameter<int>*>(p)) {
        if (!values.isEmpty()) {
            auto* combo = new QComboBox(this);
            combo->addItems(values);
            combo->setCurrentIndex(integer->value());
            connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this,
                    [integer](int i) { integer->setValue(i); });
            m_disconnect.push_back(
                follow<QComboBox>(p, combo, [integer](QComboBox* c) { c->setCurrentIndex(integer->value()); }));
            return combo;
        }
        auto* spin = new QSpinBox(this);
        spin->setRange(static_cast<int>(attributeNumber(p, "min", std::numeric_limits<int>::min())),
                       static_cast<int>(attributeNumber(p, "max", std::numeric_limits<int>::max())));
        spin->setValue(integer->value());
        connect(spin, qOverload<int>(&QSpinBox::valueChanged), this, [integer](int v) { integer->setValue(v); });
        m_disconnect.push_back(follow<QSpinBox>(p, spin, [integer](QSpinBox* s) { s->setValue(integer->value()); }));
        return spin;
    }
    if (auto* real = dynamic_cast<Parameter<double>*>(p)) {
        auto* spin = new QDoubleSpinBox(this);
        spin->setDecimals(static_cast<int>(attributeNumber(p, "decimals", 3)));
        spin->setRange(attributeNumber(p, "min", -1e12), attributeNumber(p, "max", 1e12));
        spin->setValue(real->value());
        connect(spin, qOverload<double>(&QDoubleSpinBox::valueChanged), this, [real](double v) { real->setValue(v); });
        m_disconnect.push_back(
            follow<QDoubleSpinBox>(p, spin, [real](QDoubleSpinBox* s) { s->setValue(real->value()); }));
        return spin;
    }
    if (auto* flag = dynamic_cast<Parameter<bool>*>(p)) {
        auto* box = new QCheckBox(this);
        box->setChecked(flag->value());
        connect(box, &QCheckBox::toggled, this, [flag](bool v) { flag->setValue(v); });
        m_disconnect.push_back(follow<QCheckBox>(p, box, [flag](QCheckBox* b) { b->setChecked(flag->value()); }));
        return box;
    }
    // Enumerations and integer lists go through their stored form (a number, a text).
    if (p->typeName() == QLatin1String("enum") && !values.isEmpty()) {
        auto* combo = new QComboBox(this);
        combo->addItems(values);
        combo->setCurrentIndex(storedValue(p).toInt());
        connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this, [p](int i) { storeValue(p, i); });
        m_disconnect.push_back(
            follow<QComboBox>(p, combo, [p](QComboBox* c) { c->setCurrentIndex(storedValue(p).toInt()); }));
        return combo;
    }
    if (p->typeName() == QLatin1String("intlist")) {
        auto* edit = new QLineEdit(storedValue(p).toString(), this);
        edit->setPlaceholderText(tr("all"));
        connect(edit, &QLineEdit::textEdited, this, [p](const QString& v) { storeValue(p, v); });
        m_disconnect.push_back(
            follow<QLineEdit>(p, edit, [p](QLineEdit* e) { e->setText(storedValue(p).toString()); }));
        return edit;
    }
    // Blocks and types this panel does not know stay as they are.
    return nullptr;
}

void DefaultAlgorithmController::compute()
{
    Algorithm* a = algorithm();
    if (!a)
        return;
    a->compute();
    if (a->status() != Algorithm::Success) {
        m_status->setText(tr("Failed (status %1)").arg(a->status()));
        DRAVELIN_LOG(3, "AlgorithmController",
                     QStringLiteral("%1 failed with status %2").arg(title()).arg(a->status()));
        return;
    }
    m_status->setText(tr("Done"));
    addToDataAndAnnotationModels(a->takeOutput());
    if (ApplicationController* app = applicationController())
        app->algorithmFinished(a, true);
}

}  // namespace Dravelin

#include "moc_DefaultAlgorithmController.cpp"
