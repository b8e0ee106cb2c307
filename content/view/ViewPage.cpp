#include "kestrel/view/ViewPage.h"

#include <cstdio>
#include <utility>
#include <variant>

#include <nlohmann/json.hpp>

#include "MakeError.h"
#include "kestrel/files/FilePath.h"
#include "kestrel/gltf/Gltf.h"
#include "kestrel/images/ImageFiles.h"
#include "kestrel/values/ValueFormat.h"
#include "utilities/Base64.h"

namespace kestrel::view {
namespace {

// The modules of three.js the page imports: the name the import map gives each and its file
// below three/. Their relative imports are rewritten to those names, as data: URLs have no
// place to resolve them from.
struct Module {
    const char* name;
    const char* file;
};
constexpr Module kModules[] = {
    {"three/core", "build/three.core.js"},
    {"three", "build/three.module.js"},
    {"three/addons/utils/BufferGeometryUtils.js", "examples/jsm/utils/BufferGeometryUtils.js"},
    {"three/addons/utils/SkeletonUtils.js", "examples/jsm/utils/SkeletonUtils.js"},
    {"three/addons/loaders/GLTFLoader.js", "examples/jsm/loaders/GLTFLoader.js"},
    {"three/addons/controls/OrbitControls.js", "examples/jsm/controls/OrbitControls.js"},
};

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// A data: URL of JavaScript text that can stand in a JSON string inside a <script> element:
// control characters, '%', '#', quotes, backslashes, angle brackets and non-ASCII escaped.
std::string ScriptUrl(const std::string& code) {
    std::string url = "data:text/javascript,";
    url.reserve(code.size() + code.size() / 8 + 32);
    for (unsigned char c : code) {
        if (c < 0x20 || c >= 0x7F || c == '%' || c == '#' || c == '"' || c == '\\' || c == '<' ||
            c == '>') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        } else {
            url.push_back(static_cast<char>(c));
        }
    }
    return url;
}

void AppendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out.push_back(c);
        }
    }
}

// The outline: nested <details> per element, a list of its properties, then its children.
// Element i in pre-order is glTF node nodeOf[i].
void AppendOutline(std::string& out, const SerializedContentElement& top,
                   const std::vector<int>& nodeOf) {
    struct Entry {
        const SerializedContentElement* element;  // null: close a <details>
    };
    std::vector<Entry> pending{{&top}};
    std::size_t visited = 0;
    while (!pending.empty()) {
        const Entry entry = pending.back();
        pending.pop_back();
        if (!entry.element) {
            out += "</details>\n";
            continue;
        }
        const SerializedContentElement& element = *entry.element;
        const int node = visited < nodeOf.size() ? nodeOf[visited] : -1;
        ++visited;
        out += "<details open><summary><span class=\"name\" data-node=\"" + std::to_string(node) +
               "\">";
        AppendEscaped(out, element.GetName().view());
        out += "</span></summary>\n<ul>\n";
        for (const auto& property : element.GetProperties()) {
            out += "<li>";
            AppendEscaped(out, values::PropertyLine(property));
            if (const auto* image = std::get_if<SmartPtr<Image>>(&property.value);
                image && *image) {
                if (images::PngResult png = images::EncodePng(**image)) {
                    out += "<br><img alt=\"\" src=\"data:image/png;base64,";
                    out += Base64::Encode(png.bytes.data(), png.bytes.size());
                    out += "\">";
                }
            }
            out += "</li>\n";
        }
        out += "</ul>\n";
        pending.push_back({nullptr});
        for (std::size_t i = element.GetChildCount(); i-- > 0;)
            pending.push_back({element.GetChild(i)});
    }
}

constexpr const char* kStyle = R"(<style>
html, body { margin: 0; height: 100%; font: 13px/1.4 system-ui, sans-serif; color: #222; }
body { display: flex; }
#outline { width: 34%; min-width: 240px; overflow: auto; padding: 8px 12px; box-sizing: border-box;
  border-right: 1px solid #ccc; background: #fff; }
#outline h1 { font-size: 15px; margin: 0 0 8px; word-break: break-all; }
#outline ul { margin: 0 0 2px 0; padding-left: 18px; list-style: none; font-family: monospace; }
#outline li { white-space: pre-wrap; word-break: break-all; }
#outline details details { margin-left: 14px; }
#outline .name { cursor: pointer; font-weight: 600; }
#outline .name.selected { background: #ffd9a8; }
#outline img { max-width: 96%; image-rendering: pixelated; border: 1px solid #ccc; margin: 2px 0; }
#side { flex: 1; display: flex; flex-direction: column; min-width: 0; }
#bar { padding: 4px 8px; border-bottom: 1px solid #ccc; background: #fafafa; }
#view { flex: 1; min-height: 0; }
#view canvas { display: block; width: 100%; height: 100%; }
</style>
)";

constexpr const char* kScript = R"(<script type="module">
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

const started = performance.now();
const status = document.getElementById('status');
const view = document.getElementById('view');
const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
view.appendChild(renderer.domElement);
const scene = new THREE.Scene();
scene.background = new THREE.Color(0xf0f0f0);
const camera = new THREE.PerspectiveCamera(40, 1, 0.01, 1000);
scene.add(camera);
scene.add(new THREE.HemisphereLight(0xffffff, 0x555555, 1.6));
const light = new THREE.DirectionalLight(0xffffff, 2.2);
light.position.set(1, 2, 3);
camera.add(light);
const controls = new OrbitControls(camera, renderer.domElement);
const draw = () => renderer.render(scene, camera);
controls.addEventListener('change', draw);
const palette = [0x4f7fc0, 0x5aa469, 0xc0504f, 0x9a6fc0, 0xc0a04f, 0x4fb0b0];
const materials = palette.map((color) => new THREE.MeshStandardMaterial({ color, roughness: 0.55, metalness: 0.1, side: THREE.DoubleSide, transparent: true, opacity: 0.8 }));
const normal = new Map();
const chosen = new THREE.MeshStandardMaterial({ color: 0xff8a1f, emissive: 0x552200, roughness: 0.5, side: THREE.DoubleSide });
let root = null;
let selected = null;

function resize() {
  const width = Math.max(1, view.clientWidth), height = Math.max(1, view.clientHeight);
  renderer.setSize(width, height, false);
  camera.aspect = width / height;
  camera.updateProjectionMatrix();
  draw();
}
function fit(object) {
  const box = new THREE.Box3().setFromObject(object);
  if (box.isEmpty()) return;
  const size = box.getSize(new THREE.Vector3()).length() || 1;
  const center = box.getCenter(new THREE.Vector3());
  camera.near = size / 1000;
  camera.far = size * 100;
  camera.position.copy(center).add(new THREE.Vector3(0.55, 0.45, 1).normalize().multiplyScalar(size * 1.15));
  camera.updateProjectionMatrix();
  controls.target.copy(center);
  controls.update();
  draw();
}
function highlight(object, label) {
  document.querySelectorAll('.name.selected').forEach((e) => e.classList.remove('selected'));
  if (label) label.classList.add('selected');
  selected = object || null;
  root.traverse((o) => { if (o.isMesh) o.material = normal.get(o); });
  if (selected) selected.traverse((o) => { if (o.isMesh) o.material = chosen; });
  draw();
}

const text = document.getElementById('scene').textContent.trim();
const binary = atob(text);
const bytes = new Uint8Array(binary.length);
for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
new GLTFLoader().parse(bytes.buffer, '', (gltf) => {
  root = gltf.scene;
  scene.add(root);
  let triangles = 0;
  root.traverse((o) => {
    if (!o.isMesh) return;
    // Meshes are told apart by colour and seen through a little, as shapes often nest.
    normal.set(o, materials[normal.size % materials.length]);
    o.material = normal.get(o);
    const g = o.geometry;
    triangles += (g.index ? g.index.count : g.attributes.position.count) / 3;
  });
  const nodes = new Map();
  for (const [object, association] of gltf.parser.associations) {
    if (association && association.nodes !== undefined && object.isObject3D) nodes.set(association.nodes, object);
  }
  document.querySelectorAll('.name').forEach((label) => label.addEventListener('click', (event) => {
    event.preventDefault();
    const object = nodes.get(Number(label.dataset.node));
    highlight(object === selected ? null : object, object === selected ? null : label);
  }));
  document.getElementById('fit').addEventListener('click', () => fit(root));
  document.getElementById('fit-selected').addEventListener('click', () => fit(selected || root));
  new ResizeObserver(resize).observe(view);
  resize();
  fit(root);
  requestAnimationFrame(() => {
    draw();
    const gl = renderer.getContext();
    gl.finish();
    status.textContent = `${triangles} triangles drawn in ${Math.round(performance.now() - started)} ms`;
    document.body.dataset.drawn = 'true';
  });
}, (error) => { status.textContent = 'the scene could not be read: ' + error; });
</script>
)";

}  // namespace

std::string DefaultDataDirectory() {
    const std::filesystem::path directory = files::ExecutableDirectory();
    if (directory.empty())
        return {};
    return files::Utf8Of(directory.parent_path() / "share" / "kestrel-sc");
}

PageResult BuildViewPage(const SerializedContentElement& element, const std::string& title,
                         const std::string& dataDirectory, const std::string& transformProperty) {
    PageResult result;
    try {
        std::string importMap = "{\"imports\": {";
        for (const Module& module : kModules) {
            const std::string path =
                files::Utf8Of(files::PathOf(dataDirectory) / "three" / files::PathOf(module.file));
            std::string code;
            if (Error error = files::ReadRegularFile(path, code)) {
                result.error = error;
                result.error.message = "three.js is not installed here (" + error.message +
                                       "); reinstall kestrel-sc or run scripts/install-deps";
                return result;
            }
            ReplaceAll(code, "'./three.core.js'", "'three/core'");
            ReplaceAll(code, "'../utils/", "'three/addons/utils/");
            if (&module != &kModules[0])
                importMap += ",";
            importMap += "\n\"" + std::string(module.name) + "\": \"" + ScriptUrl(code) + "\"";
        }
        importMap += "}}";

        gltf::ExportOptions options;
        options.transformProperty = transformProperty;
        gltf::GltfScene scene = gltf::BuildScene(element, options);
        if (!scene) {
            result.error = scene.error;
            return result;
        }
        std::vector<int> nodeOf;
        const nlohmann::json document = nlohmann::json::parse(scene.json);
        for (std::size_t i = 0; i < document["nodes"].size(); ++i) {
            const nlohmann::json& node = document["nodes"][i];
            if (node.contains("extras") && node["extras"].contains("path"))
                nodeOf.push_back(static_cast<int>(i));
        }
        gltf::GlbResult glb = gltf::PackGlb(scene);
        if (!glb) {
            result.error = glb.error;
            return result;
        }
        result.notes = std::move(scene.notes);

        std::string& html = result.html;
        html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
        AppendEscaped(html, title);
        html += "</title>\n";
        html += kStyle;
        html += "<script type=\"importmap\">\n" + importMap + "\n</script>\n</head>\n<body>\n";
        html += "<div id=\"outline\"><h1>";
        AppendEscaped(html, title);
        html += "</h1>\n";
        AppendOutline(html, element, nodeOf);
        html +=
            "</div>\n<div id=\"side\"><div id=\"bar\"><button id=\"fit\">Fit to view</button> "
            "<button id=\"fit-selected\">Fit selection</button> <span id=\"status\">loading "
            "the scene...</span></div>\n<div id=\"view\"></div></div>\n";
        html += "<script type=\"application/octet-stream\" id=\"scene\">\n";
        html += Base64::Encode(glb.bytes.data(), glb.bytes.size());
        html += "\n</script>\n";
        html += kScript;
        html += "</body>\n</html>\n";
    } catch (...) {
        result = PageResult{};
        result.error = FromException({});
    }
    return result;
}

}  // namespace kestrel::view
