#include "vardel/editing/add_servers_dialog.h"

#include "hostlore/hostlore.h"
#include "platform/msgbox/msgbox.h"
#include "ui_add_servers.h"
#include "vardel/alerts/wait_box.h"
#include "vardel/editing/add_servers.h"
#include "vardel/editing/address_check.h"
#include "vardel/editing/dialog_manners.h"
#include "vardel/editing/server_dialogs.h"
#include "vardel/resources/qt_text.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/config_store.h"

#include <QApplication>
#include <QIcon>
#include <QListWidget>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <new>
#include <optional>
#include <utility>
#include <vector>

using editing::toQt;
using editing::toStd;

static void initNetworkPictures() {
    Q_INIT_RESOURCE(network_pictures);
}

namespace {

// The item data that holds an item's image index.
constexpr int kImageRole = Qt::UserRole + 1;
// The lookups' text buffer.
constexpr std::size_t kLookupBuffer = 512;

void noMemory(QWidget* owner) {
    msgbox::show(owner, LoadString(IDS_NO_MEMORY), LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::Ok,
                 msgbox::Icon::Error);
}

QIcon imageIcon(int image) {
    // Icons 138, 156 and 140, in the order of the image indexes.
    static const char* const files[] = {":/network/138.png", ":/network/156.png", ":/network/140.png"};
    static const bool initialised = (initNetworkPictures(), true);
    (void)initialised;
    return QIcon(QString::fromLatin1(files[image]));
}

void setImage(QTreeWidgetItem* item, int image) {
    item->setIcon(0, imageIcon(image));
    item->setData(0, kImageRole, image);
    item->setChildIndicatorPolicy(image == CAddServersDlg::kServerImage ? QTreeWidgetItem::DontShowIndicator
                                                                        : QTreeWidgetItem::ShowIndicator);
}

// The text of the item's top-level ancestor: its provider; empty for a top-level item.
std::string providerOf(QTreeWidgetItem* item) {
    QTreeWidgetItem* top = item;
    while (top->parent())
        top = top->parent();
    return top == item ? std::string() : toStd(top->text(0));
}

struct Listing {
    int result = -1;
    std::list<ResourceEntry> entries;
    netenum::Failure failure = netenum::Failure::none;
};

// Enumerates on a worker thread while the event loop keeps turning; remote
// absent lists the providers.
Listing listResources(const std::optional<std::string>& remote, const std::string& provider) {
    // The worker fills listing alone; wait() returns once it has been joined.
    Listing listing;
    WorkerGroup group(1);
    group.start([&listing, remote, provider](const WorkerGroup::Post&) {
        listing.result = GetListOfResources(listing.entries, remote ? remote->c_str() : nullptr,
                                            remote ? provider.c_str() : nullptr, &listing.failure);
    });
    group.wait();
    return listing;
}

// A network whose peers refuse the protocol browsing needs is said so,
// rather than shown as an empty tree.
void tellWhyNothing(QWidget* owner, const Listing& listing) {
    if (listing.result != 1 && listing.failure == netenum::Failure::protocolRefused)
        msgbox::show(owner, LoadString(IDS_SMB1_REFUSED), LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::Ok,
                     msgbox::Icon::Warning);
}

// What the lookups of one server found.
struct Found {
    int ipxResult = -1;
    std::string ipx;
    int ipResult = -1;
    std::string ip;
    int ip6Result = -1;
    std::string ip6;
};

} // namespace

CAddServersDlg::CAddServersDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CAddServersDlg>()) {
    m_ui->setupUi(this);
    editing::ApplyDialogManners(this);
    connect(m_ui->showNetworkButton, &QPushButton::clicked, this, &CAddServersDlg::OnShowNetwork);
    connect(m_ui->networkTree, &QTreeWidget::itemExpanded, this, &CAddServersDlg::OnItemExpanded);
    connect(m_ui->networkTree, &QTreeWidget::itemCollapsed, this, &CAddServersDlg::OnItemCollapsed);
    connect(m_ui->networkTree, &QTreeWidget::itemDoubleClicked, this, &CAddServersDlg::OnAdd);
    connect(m_ui->addButton, &QPushButton::clicked, this, &CAddServersDlg::OnAdd);
    connect(m_ui->removeButton, &QPushButton::clicked, this, &CAddServersDlg::OnRemove);
    connect(m_ui->addManuallyButton, &QPushButton::clicked, this, &CAddServersDlg::OnAddManually);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CAddServersDlg::OnOK);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CAddServersDlg::reject);
}

CAddServersDlg::~CAddServersDlg() = default;

std::list<std::unique_ptr<ManagedServer>> CAddServersDlg::takeServers() {
    return std::exchange(m_servers, {});
}

void CAddServersDlg::reject() {
    m_servers.clear();
    QDialog::reject();
}

void CAddServersDlg::OnShowNetwork() {
    Listing listing;
    {
        WaitCursor cursor;
        listing = listResources(std::nullopt, {});
        // The last provider enumerated goes on top.
        for (auto entry = listing.entries.rbegin(); entry != listing.entries.rend(); ++entry) {
            auto* item = new QTreeWidgetItem(QStringList(toQt(entry->name)));
            setImage(item, kProviderImage);
            m_ui->networkTree->addTopLevelItem(item);
        }
        if (!listing.entries.empty())
            m_ui->showNetworkButton->setEnabled(false);
    }
    tellWhyNothing(this, listing);
}

void CAddServersDlg::OnItemExpanded(QTreeWidgetItem* item) {
    Listing listing;
    {
        WaitCursor cursor;
        const std::string text = toStd(item->text(0));
        m_ui->networkTree->setCurrentItem(item);
        listing = listResources(text, providerOf(item));
        struct Child {
            QString text;
            bool server;
        };
        std::vector<Child> children;
        for (const ResourceEntry& entry : listing.entries)
            children.push_back(
                {toQt(entry.name).remove('\\'), entry.displayType == netenum::RESOURCEDISPLAYTYPE_SERVER});
        std::stable_sort(children.begin(), children.end(), [](const Child& a, const Child& b) {
            return a.text.compare(b.text, Qt::CaseInsensitive) < 0;
        });
        qDeleteAll(item->takeChildren());
        for (const Child& child : children)
            setImage(new QTreeWidgetItem(item, QStringList(child.text)),
                     child.server ? kServerImage : kContainerImage);
    }
    tellWhyNothing(this, listing);
}

void CAddServersDlg::OnItemCollapsed(QTreeWidgetItem* item) {
    m_ui->networkTree->setCurrentItem(item);
    // Forgotten, so that the next expansion enumerates afresh.
    qDeleteAll(item->takeChildren());
}

void CAddServersDlg::OnAdd() {
    const QList<QTreeWidgetItem*> selected = m_ui->networkTree->selectedItems();
    if (selected.isEmpty())
        return;
    QTreeWidgetItem* item = selected.first();
    const std::string provider = providerOf(item);
    const QString text = item->text(0);
    if (item->data(0, kImageRole).toInt() != kServerImage)
        return;
    if (!IsValidServerName(toStd(text))) {
        editing::FrameworkMessageBox(this, FormatString(IDS_BAD_SERVER_NAME, {toStd(text)}));
        return;
    }
    // The list box's prefix search: once SERVER12 is listed, SERVER1 is refused.
    for (int row = 0; row < m_ui->chosenList->count(); ++row)
        if (m_ui->chosenList->item(row)->text().startsWith(text, Qt::CaseInsensitive))
            return;
    insertChosen(text);
    std::int32_t nosCode = kNosNone;
    if (provider.find("NetWare") != std::string::npos)
        nosCode = kNosNetWare;
    else if (provider.find("Microsoft") != std::string::npos)
        nosCode = kNosNT;
    appendServer(toStd(text), nosCode);
}

void CAddServersDlg::OnRemove() {
    QListWidget* list = m_ui->chosenList;
    const qsizetype count = list->selectedItems().size();
    for (qsizetype n = 0; n < count; ++n) {
        int row = 0;
        while (row < list->count() && !list->item(row)->isSelected())
            ++row;
        if (row == list->count())
            break;
        const std::string name = toStd(list->item(row)->text());
        const auto server =
            std::find_if(m_servers.begin(), m_servers.end(), [&](const auto& s) { return s->name == name; });
        if (server != m_servers.end())
            m_servers.erase(server);
        delete list->takeItem(row);
    }
}

void CAddServersDlg::presetManualEntry(const std::string& names) {
    m_manualPreset = names;
    QTimer::singleShot(0, this, &CAddServersDlg::OnAddManually);
}

void CAddServersDlg::OnAddManually() {
    std::unique_ptr<CAddServersManuallyDlg> dialog;
    try {
        dialog = std::make_unique<CAddServersManuallyDlg>(this);
    } catch (const std::bad_alloc&) {
        noMemory(this);
        return;
    }
    if (!m_manualPreset.empty())
        dialog->setNames(m_manualPreset);
    m_manualPreset.clear();
    dialog->exec();
    for (const std::string& line : dialog->lines()) {
        if (line.empty())
            continue;
        const QString name = toQt(line);
        bool listed = false;
        for (int row = 0; row < m_ui->chosenList->count() && !listed; ++row)
            listed = m_ui->chosenList->item(row)->text().compare(name, Qt::CaseInsensitive) == 0;
        if (listed)
            continue;
        insertChosen(name);
        if (!appendServer(line, dialog->nosCode()))
            break;
    }
}

void CAddServersDlg::OnOK() {
    // Every server's look-ups run at once, off this thread; what they found is
    // applied below server by server, questions included, in list order.
    std::vector<Found> found(m_servers.size());
    {
        WaitCursor cursor;
        WorkerGroup group;
        std::size_t index = 0;
        for (const auto& server : m_servers) {
            group.start([&found, index, name = server->name,
                         netWare = server->nosCode == kNosNetWare](const WorkerGroup::Post& post) {
                Found f;
                if (netWare) {
                    char text[kLookupBuffer] = {};
                    f.ipxResult = DLLGetServerIPXAddress(name.c_str(), text);
                    f.ipx = text;
                }
                char text[kLookupBuffer] = {};
                f.ipResult = DLLGetIpAddressFromHostname(name.c_str(), text);
                f.ip = text;
                if (f.ipResult != 0) {
                    // No A record: an AAAA one.
                    char text6[kLookupBuffer] = {};
                    f.ip6Result = DLLGetIp6AddressFromHostname(name.c_str(), text6);
                    f.ip6 = text6;
                }
                post([&found, index, f] { found[index] = f; });
            });
            ++index;
        }
        group.wait();
    }
    std::size_t index = 0;
    for (auto it = m_servers.begin(); it != m_servers.end(); ++index) {
        ManagedServer& server = **it;
        const Found& f = found[index];
        const bool netWare = server.nosCode == kNosNetWare;
        bool ipxFound = false;
        if (netWare && f.ipxResult == 0 && !f.ipx.empty() && f.ipx.size() < kAddressWorkBuffer &&
            IsValidIpxAddress(f.ipx) == 0) {
            server.ipxAddress = f.ipx;
            ipxFound = true;
        }
        if (f.ipResult == 0) {
            server.ipAddress = f.ip;
            ++it;
            continue;
        }
        if (f.ip6Result == 0 && IsValidIp6Address(f.ip6) == 0) {
            server.ip6Address = f.ip6;
            ++it;
            continue;
        }
        if (netWare && ipxFound) {
            ++it;
            continue;
        }
        try {
            if (netWare) {
                CEnterAddressDlg ask(this, server.name);
                ask.exec();
                if (ask.ipAddress().empty() && ask.ipxAddress().empty() && ask.ip6Address().empty()) {
                    it = m_servers.erase(it);
                    continue;
                }
                if (!ask.ipAddress().empty())
                    server.ipAddress = ask.ipAddress();
                if (!ask.ipxAddress().empty())
                    server.ipxAddress = ask.ipxAddress();
                if (!ask.ip6Address().empty())
                    server.ip6Address = ask.ip6Address();
            } else {
                CEnterIpAddressDlg ask(this, server.name);
                ask.exec();
                if (ask.ipAddress().empty() && ask.ip6Address().empty()) {
                    it = m_servers.erase(it);
                    continue;
                }
                server.ipAddress = ask.ipAddress();
                server.ip6Address = ask.ip6Address();
            }
        } catch (const std::bad_alloc&) {
            noMemory(this);
            return;
        }
        ++it;
    }
    accept();
}

void CAddServersDlg::insertChosen(const QString& name) {
    // Sorted as the list box sorts: without regard to case.
    int row = 0;
    while (row < m_ui->chosenList->count() &&
           m_ui->chosenList->item(row)->text().compare(name, Qt::CaseInsensitive) <= 0)
        ++row;
    m_ui->chosenList->insertItem(row, name);
}

bool CAddServersDlg::appendServer(const std::string& name, std::int32_t nosCode) {
    try {
        auto server = std::make_unique<ManagedServer>();
        server->name = name;
        server->nosCode = nosCode;
        m_servers.push_back(std::move(server));
        return true;
    } catch (const std::bad_alloc&) {
        noMemory(this);
        return false;
    }
}

std::list<std::unique_ptr<ManagedServer>> RunAddServersDialog(QWidget* parent, bool& created) {
    return RunAddServersDialogAt(parent, created, {});
}

std::list<std::unique_ptr<ManagedServer>> RunAddServersDialogAt(QWidget* parent, bool& created,
                                                                const std::string& manualEntry) {
    std::unique_ptr<CAddServersDlg> dialog;
    try {
        dialog = std::make_unique<CAddServersDlg>(parent);
    } catch (const std::bad_alloc&) {
        created = false;
        return {};
    }
    created = true;
    if (!manualEntry.empty())
        dialog->presetManualEntry(manualEntry);
    dialog->exec();
    return dialog->takeServers();
}
