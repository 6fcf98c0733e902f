#include "sensorchooserdlg.h"

#include "app/common.h"
#include "sensors/hardwareinfo.h"
#include "sensors/hardwareinforeader.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

const int kKinds[3] = {VARNOKS_READING_TEMPERATURE, VARNOKS_READING_TEMPERATURE, VARNOKS_READING_FAN};

// The value as the list shows it: a temperature in degrees Celsius, a fan in
// RPM, "--" when there is none now or it is impossible.
QString ValueText(int nKind, const SensorReadingQuery& query)
{
    if (!query.IsPresent() || !std::isfinite(query.dValue))
        return COMMON::EMPTY_VALUE_TEXT;
    if (nKind == VARNOKS_READING_FAN) {
        if (!COMMON::isPlausibleFanRpm(query.dValue))
            return COMMON::EMPTY_VALUE_TEXT;
        return QString::number(query.dValue, 'f', 0) + QStringLiteral(" RPM");
    }
    const double dCelsius = HardwareInfoReader::ConvertReadingUnit(query.strUnit, query.dValue);
    if (!COMMON::isPlausibleCelsius(dCelsius))
        return COMMON::EMPTY_VALUE_TEXT;
    return QString::number(dCelsius, 'f', 1) + QStringLiteral(" \u2103");
}

} // namespace

CSensorChooserDlg::CSensorChooserDlg(const CandidateSource& source, const QStringList& currentChoices,
                                     QWidget* parent)
    : QDialog(parent), m_current(currentChoices)
{
    setObjectName(QStringLiteral("SensorChooserDlg"));
    setWindowTitle(tr("选择传感器"));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    while (m_current.size() < 3)
        m_current << COMMON::SENSOR_CHOICE_AUTO;

    auto* grid = new QGridLayout;
    const QString names[3] = {tr("CPU温度"), tr("GPU温度"), tr("CPU风扇")};
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(names[i], this);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_lists[i] = new QComboBox(this);
        m_lists[i]->setObjectName(QStringLiteral("cmb_sensor_%1").arg(i));
        m_lists[i]->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        label->setBuddy(m_lists[i]);
        grid->addWidget(label, i, 0);
        grid->addWidget(m_lists[i], i, 1);
        FillList(i, source ? source(kKinds[i]) : QList<SensorCandidate>(), m_current[i]);
    }

    auto* ok = new QPushButton(tr("确定"), this);
    ok->setObjectName(QStringLiteral("btn_ok"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(tr("取消"), this);
    cancel->setObjectName(QStringLiteral("btn_cancel"));
    connect(ok, &QPushButton::clicked, this, [this]() {
        ReportChanges();
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* outer = new QVBoxLayout(this);
    outer->addLayout(grid);
    outer->addLayout(buttons);
}

void CSensorChooserDlg::FillList(int nReading, const QList<SensorCandidate>& candidates,
                                 const QString& strCurrent)
{
    QComboBox* list = m_lists[nReading];
    list->addItem(tr("自动"), COMMON::SENSOR_CHOICE_AUTO);
    for (const SensorCandidate& candidate : candidates) {
        const QString strLabel =
            candidate.identity.strLabel.isEmpty() ? candidate.query.strLabel : candidate.identity.strLabel;
        const QString strFeature = candidate.identity.strIdentity.mid(candidate.identity.Chip().size() + 1);
        // Chip, then the feature and its label as `sensors` shows them; a
        // feature without a label of its own goes by its name.
        const QString strNamed = strLabel.isEmpty() || strLabel == strFeature
                                     ? strFeature
                                     : QStringLiteral("%1 \"%2\"").arg(strFeature, strLabel);
        list->addItem(
            QStringLiteral("%1  %2  %3")
                .arg(candidate.identity.Chip(), strNamed, ValueText(kKinds[nReading], candidate.query)),
            candidate.identity.strIdentity);
    }
    int nIndex = list->findData(strCurrent);
    if (nIndex < 0) {
        // Chosen before, not on this machine now: kept until the user picks
        // another.
        list->addItem(tr("%1（当前不存在）").arg(strCurrent), strCurrent);
        nIndex = list->count() - 1;
    }
    list->setCurrentIndex(nIndex);
}

void CSensorChooserDlg::ReportChanges()
{
    for (int i = 0; i < 3; ++i) {
        const QString strChoice = m_lists[i]->currentData().toString();
        if (strChoice != m_current[i]) {
            m_current[i] = strChoice;
            emit sensorChoiceChanged(COMMON::SENSOR_CHOICE_KEYS[i], strChoice);
        }
    }
}
