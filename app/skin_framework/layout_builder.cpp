#include "app/skin_framework/layout_builder.h"

#include <QXmlStreamReader>
#include <map>
#include <memory>
#include <vector>

#include "app/skin_framework/list.h"
#include "app/skin_framework/skin_package.h"
#include "app/skin_framework/window.h"

namespace sorvane::skin {
namespace {

struct Node {
    QString tag;
    AttributeList attributes;
    std::vector<std::unique_ptr<Node>> children;

    QString Get(const QString& name) const {
        for (const auto& [key, value] : attributes) {
            if (key == name) return value;
        }
        return {};
    }
};

// Includes may nest, but never endlessly.
constexpr int kMaxIncludeDepth = 8;

std::unique_ptr<Node> ParseXml(const QByteArray& bytes, QString* error) {
    QXmlStreamReader reader(bytes);
    std::unique_ptr<Node> root;
    std::vector<Node*> stack;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            auto node = std::make_unique<Node>();
            node->tag = reader.name().toString();
            for (const QXmlStreamAttribute& attribute : reader.attributes())
                node->attributes.push_back({attribute.name().toString(), attribute.value().toString()});
            Node* raw = node.get();
            if (stack.empty()) {
                if (root) {
                    *error = QStringLiteral("more than one root element");
                    return nullptr;
                }
                root = std::move(node);
            } else {
                stack.back()->children.push_back(std::move(node));
            }
            stack.push_back(raw);
        } else if (token == QXmlStreamReader::EndElement) {
            stack.pop_back();
        }
    }
    if (reader.hasError()) {
        *error = QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
        return nullptr;
    }
    if (!root) *error = QStringLiteral("empty layout");
    return root;
}

Control* MakeBuiltIn(const QString& tag) {
    if (tag == u"Control") return new Control;
    if (tag == u"Container") return new Container;
    if (tag == u"VerticalLayout") return new VerticalLayout;
    if (tag == u"HorizontalLayout") return new HorizontalLayout;
    if (tag == u"TabLayout") return new TabLayout;
    if (tag == u"Label") return new Label;
    if (tag == u"Text") return new Text;
    if (tag == u"Button") return new Button;
    if (tag == u"Option") return new Option;
    if (tag == u"CheckBox") return new CheckBox;
    if (tag == u"Progress") return new Progress;
    if (tag == u"RichEdit") return new RichEdit;
    if (tag == u"List") return new List;
    if (tag == u"ListHeader") return new ListHeader;
    if (tag == u"ListHeaderItem") return new ListHeaderItem;
    if (tag == u"ListLabelElement") return new ListLabelElement;
    if (tag == u"ListTextElement") return new ListTextElement;
    if (tag == u"ListImageTextElement") return new ListImageTextElement;
    if (tag == u"TreeView") return new TreeView;
    if (tag == u"TreeNode") return new TreeNode;
    if (tag == u"Menu") return new Menu;
    if (tag == u"MenuElement") return new MenuElement;
    return nullptr;
}

class Builder {
  public:
    Builder(Window& window, QString* error) : window_(window), error_(*error) {}

    bool BuildFile(const QString& file, int depth, std::vector<Control*>* controls) {
        if (depth > kMaxIncludeDepth) return Fail(QStringLiteral("includes nest too deeply at %1").arg(file));
        const QString name = QString(file).replace(u'\\', u'/');
        const QByteArray bytes = SkinPackage::Instance().File(name);
        if (bytes.isEmpty()) return Fail(QStringLiteral("%1 is not in the skin package").arg(name));
        QString parseError;
        std::unique_ptr<Node> root = ParseXml(bytes, &parseError);
        if (!root) return Fail(name + QStringLiteral(": ") + parseError);
        files_.push_back(name);
        bool ok;
        if (root->tag == u"Window") {
            if (depth == 0) {
                for (const auto& [key, value] : root->attributes) window_.SetWindowAttribute(key, value);
            }
            ok = BuildChildren(*root, depth, controls);
        } else {
            ok = BuildChild(*root, depth, controls);
        }
        files_.pop_back();
        return ok;
    }

  private:
    bool Fail(const QString& message) {
        if (error_.isEmpty()) error_ = message;
        return false;
    }

    bool BuildChildren(const Node& parent, int depth, std::vector<Control*>* controls) {
        for (const auto& child : parent.children) {
            if (!BuildChild(*child, depth, controls)) return false;
        }
        return true;
    }

    bool BuildChild(const Node& node, int depth, std::vector<Control*>* controls) {
        if (node.tag == u"Font") {
            QFont font;
            font.setFamilies({node.Get(QStringLiteral("name")), QStringLiteral("DejaVu Sans")});
            font.setPixelSize(qMax(6, node.Get(QStringLiteral("size")).toInt()));
            font.setBold(ParseBool(node.Get(QStringLiteral("bold"))));
            font.setUnderline(ParseBool(node.Get(QStringLiteral("underline"))));
            font.setItalic(ParseBool(node.Get(QStringLiteral("italic"))));
            window_.AddFont(node.Get(QStringLiteral("id")).toInt(), font,
                            ParseBool(node.Get(QStringLiteral("default"))));
            return true;
        }
        if (node.tag == u"Default" || node.tag == u"Style") {
            AttributeList attributes;
            for (const auto& pair : node.attributes) {
                if (pair.first != u"name" && pair.first != u"shared") attributes.push_back(pair);
            }
            if (node.tag == u"Default")
                window_.AddDefault(node.Get(QStringLiteral("name")), attributes);
            else
                window_.AddStyle(node.Get(QStringLiteral("name")), attributes);
            return true;
        }
        if (node.tag == u"Include") {
            const QString source = node.Get(QStringLiteral("source"));
            if (source.isEmpty())
                return Fail(QStringLiteral("Include without source in %1").arg(files_.back()));
            return BuildFile(source, depth + 1, controls);
        }
        Control* control = MakeBuiltIn(node.tag);
        if (!control) control = window_.CreateControl(node.tag);
        if (!control) return Fail(QStringLiteral("unknown element <%1> in %2").arg(node.tag, files_.back()));
        // A parent first, so attributes that need the window (fonts, styles) can find it.
        control->setParent(&window_);
        control->hide();
        control->setAttribute(Qt::WA_WState_ExplicitShowHide, false);
        ApplyAttributes(*control, node);
        controls->push_back(control);

        std::vector<Control*> children;
        if (!BuildChildren(node, depth, &children)) return false;
        for (Control* child : children) Attach(*control, *child);
        return true;
    }

    void ApplyAttributes(Control& control, const Node& node) {
        if (const AttributeList* defaults = window_.Defaults(node.tag)) {
            for (const auto& [key, value] : *defaults) control.SetAttribute(key, value);
        }
        for (const auto& [key, value] : node.attributes) {
            if (key == u"style") {
                if (const AttributeList* style = window_.Style(value)) {
                    for (const auto& [k, v] : *style) control.SetAttribute(k, v);
                }
            }
        }
        for (const auto& [key, value] : node.attributes) {
            if (key != u"style") control.SetAttribute(key, value);
        }
    }

    void Attach(Control& parent, Control& child) {
        if (auto* list = dynamic_cast<List*>(&parent)) {
            if (auto* header = dynamic_cast<ListHeader*>(&child)) {
                list->SetHeader(header);
            } else if (auto* node = dynamic_cast<TreeNode*>(&child); node && dynamic_cast<TreeView*>(list)) {
                static_cast<TreeView*>(list)->AddNode(node);
                AttachPendingChildren(*node);
            } else if (auto* row = dynamic_cast<ListElement*>(&child)) {
                list->Add(row);
            } else {
                child.setParent(list);
            }
            return;
        }
        if (auto* node = dynamic_cast<TreeNode*>(&parent)) {
            // Child nodes can join the tree only once their parent has; keep them until then.
            if (auto* childNode = dynamic_cast<TreeNode*>(&child)) pending_[node].push_back(childNode);
            return;
        }
        if (auto* container = dynamic_cast<Container*>(&parent)) {
            container->Add(&child);
            return;
        }
        child.setParent(&parent);
    }

    void AttachPendingChildren(TreeNode& node) {
        const auto it = pending_.find(&node);
        if (it == pending_.end()) return;
        const std::vector<TreeNode*> children = std::move(it->second);
        pending_.erase(it);
        for (TreeNode* child : children) {
            node.AddChildNode(child);
            AttachPendingChildren(*child);
        }
    }

    Window& window_;
    QString& error_;
    std::vector<QString> files_;
    std::map<TreeNode*, std::vector<TreeNode*>> pending_;
};

}  // namespace

bool BuildLayout(Window& window, const QString& file, QString* error) {
    error->clear();
    Builder builder(window, error);
    std::vector<Control*> controls;
    if (!builder.BuildFile(file, 0, &controls)) {
        qDeleteAll(controls);
        return false;
    }
    if (controls.empty()) {
        *error = QStringLiteral("%1 has no controls").arg(file);
        return false;
    }
    Control* root = controls.front();
    if (controls.size() > 1) {
        auto* column = new VerticalLayout;
        column->setParent(&window);
        for (Control* control : controls) column->Add(control);
        root = column;
    }
    window.SetRoot(root);
    return true;
}

}  // namespace sorvane::skin
