#include "planflow.h"

#include "addresscheck.h"
#include "addressrules.h"
#include "plaintext.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QThread>

struct PlanFlow::Read {
    QString path;
    PlanFileOptions options;
    QList<Assignment> plan;
    PlanError error;
    QString codePage;
    bool ok = false;
};

PlanFlow::PlanFlow(MainWindow* window)
    : QObject(window)
    , m_window(window)
{
    m_button = new QPushButton(tr("按计划设置…"), window->formColumn());
    m_button->setObjectName(QStringLiteral("planButton"));
    m_button->setGeometry(980, 310, 255, 27);
    connect(m_button, &QPushButton::clicked, this, [this] { choosePlan(); });
    auto* shortcut = new QShortcut(QKeySequence::Open, window);
    connect(shortcut, &QShortcut::activated, this, [this] { choosePlan(); });
}

PlanFlow::~PlanFlow()
{
    cancelCheck();
    // The reader is bounded by the plan's limits: its end is waited for, never cut.
    if (m_reader) {
        m_reader->wait();
        delete m_reader;
    }
}

void PlanFlow::choosePlan()
{
    if (m_reader || m_check || m_window->busy())
        return;
    const QString path = QFileDialog::getOpenFileName(m_window, tr("打开计划"), m_folder,
        tr("计划 (*.xlsx *.ods *.csv *.txt)") + QStringLiteral(";;") + tr("所有文件 (*)"));
    if (path.isEmpty())
        return;
    m_folder = QFileInfo(path).absolutePath(); // the next plan is likely beside this one
    openPlan(path);
}

void PlanFlow::openPlan(const QString& path)
{
    if (m_reader || m_check || m_window->busy())
        return;
    m_read = std::make_shared<Read>();
    m_read->path = path;
    // A row without a mask or a gateway takes the form's, where they are filled.
    m_read->options.mask = m_window->formMask();
    m_read->options.gateway = m_window->formGateway();
    m_read->options.missing = MaskMissing::Allowed;
    const std::shared_ptr<Read> read = m_read;
    m_reader = QThread::create([read] {
        read->ok = ReadPlanFile(read->path, read->options, &read->plan, &read->error, &read->codePage);
    });
    connect(m_reader, &QThread::finished, this, [this] { planRead(); });
    m_button->setEnabled(false);
    SetPlainText(m_window->noteLabel(), tr("正在读取计划 %1…").arg(path));
    SetPlainToolTip(m_window->noteLabel(), QString());
    m_reader->start();
}

void PlanFlow::notice(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, tr("提示"), QString(), QMessageBox::Ok, m_window);
    SetPlainText(&box, text); // it names the file and quotes its cells
    box.exec();
}

void PlanFlow::planRead()
{
    m_reader->wait();
    delete m_reader;
    m_reader = nullptr;
    const std::shared_ptr<Read> read = std::move(m_read);
    m_button->setEnabled(true);
    SetPlainText(m_window->noteLabel(), QString());
    if (!m_window->isVisible())
        return; // closed while it was read
    if (!read->ok) {
        // The companion's words: "file:row: reason", or the file and the reason.
        notice(read->error.line > 0
                ? QStringLiteral("%1:%2: %3")
                      .arg(read->path, QString::number(read->error.line), read->error.text)
                : read->error.text);
        return;
    }
    auto data = std::make_unique<PlanViewData>();
    data->plan = std::move(read->plan);
    data->listed = m_window->listedDevices();
    data->codePage = read->codePage;
    QList<FoundAnswer> found;
    for (const ListedDevice& d : data->listed) {
        const DeviceFields& f = d.entry.device;
        found.append({ f.sn.value_or(QString()), f.ip.value_or(QString()), d.heardOn,
            f.kind == AnswerKind::Reply, f.configurable });
    }
    data->match = MatchPlan(data->plan, found);
    showPlan(std::move(data));
}

void PlanFlow::showPlan(std::unique_ptr<PlanViewData> data)
{
    PlanView view(data.get(), m_window);
    if (view.exec() != QDialog::Accepted || view.toSet() == 0)
        return;
    checkPlan(*data);
}

// The same look at the link as a range gets, before anything is sent.
void PlanFlow::checkPlan(const PlanViewData& data)
{
    QList<ListedRow> table;
    for (const ListedDevice& d : data.listed) {
        const DeviceFields& f = d.entry.device;
        table.append({ f.ip ? *f.ip : QString(), f.sn.value_or(QString()), d.adapter, false });
    }
    QList<QPair<int, uint32_t>> planned;
    m_settings.clear();
    for (int k = 0; k < data.plan.size(); ++k) {
        const PlanLine& line = data.match.lines.at(k);
        if (line.state != PlanState::Set)
            continue;
        const Assignment& a = data.plan.at(k);
        planned.append({ line.found, a.ip });
        m_settings.append({ line.found, a.sn, data.listed.at(line.found).adapter, AddressText(a.ip),
            AddressText(a.mask), AddressText(a.gateway) });
    }
    m_batch
        = std::make_unique<BatchCheck>(PreparePlanCheck(table, planned, ThisComputerAddresses(), &m_given));
    std::unique_ptr<LinkProbe> link = SystemLinkProbe();
    if (const std::optional<std::vector<AddressVerdict>> known = VerdictsAtOnce(m_batch->input, link.get()))
        return decide(*known);
    m_check = std::make_unique<AddressCheckThread>(m_batch->input, std::move(link));
    connect(m_check.get(), &QThread::finished, this, [this] {
        if (!m_check)
            return;
        const std::vector<AddressVerdict> verdicts = m_check->verdicts();
        m_check.reset();
        decide(verdicts);
    });
    m_button->setEnabled(false);
    m_window->showBusy(true, CheckingText(int(m_batch->input.queries.size())));
    m_check->start();
}

void PlanFlow::cancelCheck()
{
    m_check.reset(); // cancels and waits
    m_batch.reset();
}

// A plan names its addresses one by one: a taken one can be set anyway, or nothing is sent.
void PlanFlow::decide(const std::vector<AddressVerdict>& found)
{
    const std::unique_ptr<BatchCheck> batch = std::move(m_batch);
    m_button->setEnabled(true);
    m_window->showBusy(false, QString());
    if (!m_window->isVisible())
        return; // closed during the check: nothing is sent
    const BatchVerdicts verdicts(batch->input, found);
    const QString taken = TakenNotice(*batch, m_given, verdicts);
    if (!taken.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, tr("提示"), QString(), QMessageBox::NoButton, m_window);
        SetPlainText(&box, taken); // it names devices' serial numbers
        QPushButton* anyway = box.addButton(tr("仍然设置"), QMessageBox::DestructiveRole);
        QPushButton* cancel = box.addButton(tr("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(cancel);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() != anyway)
            return;
    }
    m_window->sendSettings(m_settings);
    const StatusNote note = AssignmentNote(*batch, m_given, verdicts);
    SetPlainText(m_window->noteLabel(), note.text);
    SetPlainToolTip(m_window->noteLabel(), note.toolTip);
}
