#include "behaviortree_cpp/xml_parsing.h"

#include <tinyxml2.h>

#include <iostream>
#include <map>

#include "xml_tree_builder.h"

namespace BT {

namespace {

using tinyxml2::XMLElement;

[[noreturn]] void throwAtLine(int line, const std::string& text) {
  throw RuntimeError("Error at line ", std::to_string(line), ": -> ", text);
}

std::string attributeOr(const XMLElement& element, const char* name, const std::string& fallback) {
  const char* value = element.Attribute(name);
  return value != nullptr ? value : fallback;
}

std::vector<const XMLElement*> childElements(const XMLElement& parent, const char* name = nullptr) {
  std::vector<const XMLElement*> children;
  for (auto* child = parent.FirstChildElement(name); child != nullptr;
       child = child->NextSiblingElement(name)) {
    children.push_back(child);
  }
  return children;
}

// Tags that name the node type in an ID attribute instead of the element name.
bool isGenericTag(StringView tag) {
  return tag == "Action" || tag == "Condition" || tag == "Control" || tag == "Decorator" ||
         tag == "SubTree";
}

std::string registrationID(const XMLElement& element) {
  const std::string tag = element.Name();
  if (!isGenericTag(tag)) {
    return tag;
  }
  const char* ID = element.Attribute("ID");
  if (ID == nullptr) {
    throwAtLine(element.GetLineNum(), "The tag <" + tag + "> must have the attribute [ID]");
  }
  return ID;
}

// "{...}" exactly, without trimming: what the factory treats as a blackboard reference.
bool isReferenceText(StringView text) {
  return text.size() >= 3 && text.front() == '{' && text.back() == '}';
}

void validateNode(const XMLElement& element, const BehaviorTreeFactory& factory) {
  const std::string ID = registrationID(element);
  const auto manifest = factory.manifests().find(ID);
  const int line = element.GetLineNum();
  if (manifest == factory.manifests().end()) {
    throwAtLine(line, "Node not recognized: " + ID);
  }
  const auto children = childElements(element);
  const NodeType type = manifest->second.type;
  if ((type == NodeType::ACTION || type == NodeType::CONDITION) && !children.empty()) {
    throwAtLine(line, "The node '" + ID + "' must not have any child");
  }
  if (type == NodeType::CONTROL && children.empty()) {
    throwAtLine(line, "The node '" + ID + "' must have 1 or more children");
  }
  for (const auto* child : children) {
    validateNode(*child, factory);
  }
}

void validateTree(const XMLElement& tree, const BehaviorTreeFactory& factory, bool single_tree) {
  const int line = tree.GetLineNum();
  const char* ID = tree.Attribute("ID");
  if (ID == nullptr && !single_tree) {
    throwAtLine(line, "The tag <BehaviorTree> must have the attribute [ID]");
  }
  if (ID != nullptr && factory.manifests().count(ID) != 0) {
    throwAtLine(line,
                "The attribute [ID] of tag <BehaviorTree> must not use the name of a registered "
                "Node");
  }
  const auto children = childElements(tree);
  if (children.size() != 1) {
    throwAtLine(line, "The tag <BehaviorTree> with ID '" + attributeOr(tree, "ID", "") +
                          "' must have exactly 1 child");
  }
  validateNode(*children.front(), factory);
}

// Errors carry the line numbers of the document as printed back by tinyxml2, so validation
// runs on that copy.
void validateDocument(const tinyxml2::XMLDocument& document, const BehaviorTreeFactory& factory) {
  tinyxml2::XMLPrinter printer;
  document.Print(&printer);
  tinyxml2::XMLDocument printed;
  printed.Parse(printer.CStr());
  const auto trees = childElements(*printed.RootElement(), "BehaviorTree");
  for (const auto* tree : trees) {
    validateTree(*tree, factory, trees.size() == 1);
  }
}

const XMLElement& checkedRoot(const tinyxml2::XMLDocument& document) {
  if (document.Error()) {
    throw RuntimeError("Error parsing the XML: ", document.ErrorStr());
  }
  const XMLElement* root = document.RootElement();
  if (root == nullptr || StringView(root->Name()) != "root") {
    throw RuntimeError("The XML must have a root node called <root>");
  }
  if (root->Attribute("BTCPP_format") == nullptr) {
    std::cout << "Warnings: The first tag of the XML (<root>) should contain the attribute "
                 "[BTCPP_format=\"4\"]\n"
              << "Please check if your XML is compatible with version 4.x of BT.CPP" << std::endl;
  }
  return *root;
}

const XMLElement& selectMainTree(const XMLElement& root) {
  const auto trees = childElements(root, "BehaviorTree");
  const char* main_ID = root.Attribute("main_tree_to_execute");
  if (main_ID == nullptr) {
    if (trees.size() != 1) {
      throw RuntimeError("[main_tree_to_execute] was not specified correctly");
    }
    return *trees.front();
  }
  for (const auto* tree : trees) {
    if (attributeOr(*tree, "ID", "") == main_ID) {
      return *tree;
    }
  }
  throw std::runtime_error(std::string("Can't find a tree with name: ") + main_ID);
}

// Instantiates the nodes of one tree depth first, parents before children.
class TreeBuilder {
 public:
  TreeBuilder(const BehaviorTreeFactory& factory, Tree::Subtree& subtree)
      : factory_(factory), subtree_(subtree) {}

  void build(const XMLElement& element, ControlNode* parent) {
    const std::string ID = instantiationID(element);
    const TreeNodeManifest& manifest = factory_.manifests().at(ID);
    const std::string name = attributeOr(element, "name", ID);
    const auto node =
        TreeNode::Ptr(factory_.instantiateTreeNode(name, ID, makeConfig(element, manifest, name)));
    subtree_.nodes.push_back(node);
    if (parent != nullptr) {
      parent->addChild(node.get());
    }
    auto* control = dynamic_cast<ControlNode*>(node.get());
    for (const auto* child : childElements(element)) {
      build(*child, control);
    }
  }

 private:
  static std::string instantiationID(const XMLElement& element) {
    if (!isGenericTag(element.Name()) && element.Attribute("ID") != nullptr) {
      throw RuntimeError("Attribute [ID] is not allowed in <", element.Name(), ">");
    }
    return registrationID(element);
  }

  NodeConfig makeConfig(const XMLElement& element, const TreeNodeManifest& manifest,
                        const std::string& name) {
    NodeConfig config;
    config.blackboard = subtree_.blackboard;
    config.manifest = &manifest;
    config.uid = next_uid_++;
    config.path =
        name == manifest.registration_ID ? name + "::" + std::to_string(config.uid) : name;
    PortsRemapping remapping;
    for (auto* attribute = element.FirstAttribute(); attribute != nullptr;
         attribute = attribute->Next()) {
      const std::string key = attribute->Name();
      if (IsAllowedPortName(key)) {
        remapping[key] = checkedPortValue(element, manifest, key, attribute->Value());
      } else if (!IsReservedAttribute(key)) {
        config.other_attributes[key] = attribute->Value();
      }
    }
    for (const auto& [port_name, port] : manifest.ports) {
      const auto remapped = remapping.find(port_name);
      if (remapped == remapping.end()) {
        addDefault(config, port_name, port);
        continue;
      }
      if (const auto key = TreeNode::getRemappedKey(port_name, remapped->second)) {
        declareEntry(std::string(*key), port);
      }
      if (port.direction() != PortDirection::OUTPUT) {
        config.input_ports[port_name] = remapped->second;
      }
      if (port.direction() != PortDirection::INPUT) {
        config.output_ports[port_name] = remapped->second;
      }
    }
    return config;
  }

  // A literal is converted now, so that a bad value fails when the tree is created.
  static std::string checkedPortValue(const XMLElement& element, const TreeNodeManifest& manifest,
                                      const std::string& port_name, const std::string& value) {
    const auto port = manifest.ports.find(port_name);
    if (port == manifest.ports.end()) {
      throw RuntimeError("a port with name [", port_name, "] is found in the XML (<",
                         element.Name(), ">, line ", std::to_string(element.GetLineNum()),
                         ") but not in the providedPorts() of its registered node type.");
    }
    const PortInfo& info = port->second;
    if (!isReferenceText(value) && info.isStronglyTyped() && info.converter()) {
      try {
        info.converter()(value);
      } catch (const std::exception&) {
        throw LogicError("The port with name \"", port_name, "\" and value \"", value,
                         "\" can not be converted to ", info.typeName());
      }
    }
    return value;
  }

  static void addDefault(NodeConfig& config, const std::string& port_name, const PortInfo& port) {
    if (!port.defaultValueString().empty() && port.direction() != PortDirection::OUTPUT) {
      config.input_ports[port_name] = port.defaultValueString();
    }
  }

  // The first port that refers to a key types its entry; later ports must agree.
  void declareEntry(const std::string& key, const PortInfo& port) {
    const auto& blackboard = subtree_.blackboard;
    const auto entry = blackboard->getEntry(key);
    if (!entry) {
      blackboard->createEntry(key, port);
      return;
    }
    std::unique_lock lock(entry->entry_mutex);
    const TypeInfo& previous = entry->info;
    if (previous.isStronglyTyped() && port.isStronglyTyped() && previous.type() != port.type() &&
        previous.type() != typeid(std::string)) {
      lock.unlock();
      blackboard->debugMessage();
      throw RuntimeError("The creation of the tree failed because the port [", key,
                         "] was initially created with type [", demangle(previous.type()),
                         "] and, later type [", demangle(port.type()),
                         "] was used somewhere else.");
    }
  }

  const BehaviorTreeFactory& factory_;
  Tree::Subtree& subtree_;
  uint16_t next_uid_ = 1;
};

const char* portTag(PortDirection direction) {
  switch (direction) {
    case PortDirection::INPUT:
      return "input_port";
    case PortDirection::OUTPUT:
      return "output_port";
    default:
      return "inout_port";
  }
}

XMLElement* modelElement(tinyxml2::XMLDocument& document, const TreeNodeManifest& manifest) {
  XMLElement* element = document.NewElement(toStr(manifest.type).c_str());
  element->SetAttribute("ID", manifest.registration_ID.c_str());
  for (const auto& [port_name, port] : manifest.ports) {
    XMLElement* port_element = document.NewElement(portTag(port.direction()));
    port_element->SetAttribute("name", port_name.c_str());
    port_element->SetAttribute("type", port.typeName().c_str());
    if (!port.defaultValue().empty()) {
      port_element->SetAttribute("default", port.defaultValueString().c_str());
    }
    if (!port.description().empty()) {
      port_element->SetText(port.description().c_str());
    }
    element->InsertEndChild(port_element);
  }
  if (!manifest.metadata.empty()) {
    XMLElement* fields = document.NewElement("MetadataFields");
    for (const auto& [key, value] : manifest.metadata) {
      XMLElement* field = document.NewElement("Metadata");
      field->SetAttribute(key.c_str(), value.c_str());
      fields->InsertEndChild(field);
    }
    element->InsertEndChild(fields);
  }
  return element;
}

}  // namespace

namespace xml {

Tree buildMainTree(const BehaviorTreeFactory& factory, const tinyxml2::XMLDocument& document,
                   const Blackboard::Ptr& blackboard) {
  const XMLElement& root = checkedRoot(document);
  validateDocument(document, factory);
  const XMLElement& main_tree = selectMainTree(root);

  Tree tree;
  auto subtree = std::make_shared<Tree::Subtree>();
  subtree->blackboard = blackboard;
  subtree->tree_ID = attributeOr(main_tree, "ID", "");
  subtree->instance_name = subtree->tree_ID;
  tree.subtrees.push_back(subtree);
  TreeBuilder(factory, *subtree).build(*main_tree.FirstChildElement(), nullptr);
  tree.manifests = factory.manifests();
  tree.initialize();
  return tree;
}

}  // namespace xml

std::string writeTreeNodesModelXML(const BehaviorTreeFactory& factory, bool include_builtin) {
  tinyxml2::XMLDocument document;
  XMLElement* root = document.NewElement("root");
  root->SetAttribute("BTCPP_format", "4");
  document.InsertEndChild(root);
  XMLElement* model = document.NewElement("TreeNodesModel");
  root->InsertEndChild(model);

  std::map<std::string, const TreeNodeManifest*> sorted;
  for (const auto& [ID, manifest] : factory.manifests()) {
    if (include_builtin || factory.builtinNodes().count(ID) == 0) {
      sorted.emplace(ID, &manifest);
    }
  }
  for (const auto& [ID, manifest] : sorted) {
    model->InsertEndChild(modelElement(document, *manifest));
  }

  tinyxml2::XMLPrinter printer;
  document.Print(&printer);
  return std::string(printer.CStr(), static_cast<size_t>(printer.CStrSize() - 1));
}

}  // namespace BT
