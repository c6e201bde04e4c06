// The picture of a frame from the player's view, as SVG: the plug-in's labels where it drew
// them, a dot and a name for each ped, and a legend under the view.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <string_view>

#include "report.h"
#include "report_text.h"

namespace sim {

namespace {

constexpr int svgWidth = 960;
constexpr int svgHeight = 540;
constexpr int legendHeight = 76;  // the strip under the view: legend, peds out of view, caption

std::string xmlText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A text's box on the picture, estimated from its size: sans-serif letters are about 0.6 em wide.
struct Box {
  double left, top, right, bottom;
  bool overlaps(const Box& other) const {
    return left < other.right && other.left < right && top < other.bottom && other.top < bottom;
  }
};

Box textBox(double x, double baseline, double size, std::size_t letters, const char* anchor) {
  const double width = 0.6 * size * static_cast<double>(letters);
  const double left = anchor[0] == 'm' ? x - width / 2 : anchor[0] == 'e' ? x - width : x;
  return {left, baseline - 0.8 * size, left + width, baseline + 0.25 * size};
}

std::string svgText(double x, double y, double size, const char* anchor, const std::string& fill,
                    const std::string& text) {
  return "  <text x=\"" + fixed(x, 1) + "\" y=\"" + fixed(y, 1) + "\" font-size=\"" +
         fixed(size, 0) + "\" text-anchor=\"" + anchor + "\" fill=\"" + fill + "\">" +
         xmlText(text) + "</text>\n";
}

std::string svgDot(double x, double y, const char* fill) {
  return "  <circle cx=\"" + fixed(x, 1) + "\" cy=\"" + fixed(y, 1) + "\" r=\"6\" fill=\"" + fill +
         "\" stroke=\"#ffffff\" stroke-width=\"1.5\"/>\n";
}

// Where an actor outside the picture is, seen from the camera.
std::string outOfViewPlace(const ScreenPoint& point) {
  if (!point.inFront) return "behind the camera";
  if (point.x < 0.0f) return "off to the left";
  if (point.x > 1.0f) return "off to the right";
  return point.y < 0.0f ? "above the view" : "below the view";
}

}  // namespace

std::string frameSvg(const WorldState& state, std::size_t frameIndex) {
  const Scene& scene = state.scene;
  const FrameRecord* frame = frameIndex < state.frames.size() ? &state.frames[frameIndex] : nullptr;
  const int w = svgWidth;
  const int h = svgHeight;
  const int total = h + legendHeight;
  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) +
                    "\" height=\"" + std::to_string(total) + "\" viewBox=\"0 0 " +
                    std::to_string(w) + " " + std::to_string(total) +
                    "\" font-family=\"sans-serif\">\n";
  // The horizon is where the ground far ahead at eye height projects.
  const Vector3 eye = cameraPosition(scene);
  const double dx = scene.camera.lookAt.x - eye.x;
  const double dy = scene.camera.lookAt.y - eye.y;
  const double flat = std::sqrt(dx * dx + dy * dy);
  double horizon = 0.5;
  if (flat > 0.0) {
    const Vector3 distant{static_cast<float>(eye.x + dx / flat * 1e5),
                          static_cast<float>(eye.y + dy / flat * 1e5), eye.z};
    const ScreenPoint point = projectToScreen(scene, distant);
    if (point.inFront) horizon = std::min(1.0, std::max(0.0, static_cast<double>(point.y)));
  }
  const int horizonY = static_cast<int>(horizon * h);
  out += "  <rect width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(horizonY) +
         "\" fill=\"#bcd7ee\"/>\n";
  out += "  <rect y=\"" + std::to_string(horizonY) + "\" width=\"" + std::to_string(w) +
         "\" height=\"" + std::to_string(h - horizonY) + "\" fill=\"#d9c9a3\"/>\n";

  // The labels exactly where the plug-in drew them, first: the dots go on top of them and the
  // names where no label covers them.
  std::vector<Box> taken;
  if (frame != nullptr) {
    for (const Label& label : frame->labels) {
      const double x = label.x * w;
      const double y = label.y * h;
      const double size = 60.0 * label.scale[1];
      out +=
          svgText(x, y, size, "middle",
                  "rgb(" + std::to_string(label.colour[0]) + "," + std::to_string(label.colour[1]) +
                      "," + std::to_string(label.colour[2]) + ")",
                  label.text);
      if (std::isfinite(x) && std::isfinite(y)) {
        taken.push_back(textBox(x, y, size, label.text.size(), "middle"));
      }
    }
  }
  struct Shown {
    std::size_t index;
    double x, y;
  };
  std::vector<Shown> shown;
  std::string outOfView;
  for (std::size_t i = 0; i < scene.actors.size(); ++i) {
    const Actor& actor = scene.actors[i];
    const bool treated = frame != nullptr && frame->actors[i].accuracySets > 0;
    const ScreenPoint point = projectToScreen(scene, actor.position);
    if (!point.inFront ||
        !(point.x >= 0.0f && point.x <= 1.0f && point.y >= 0.0f && point.y <= 1.0f)) {
      if (treated) {
        outOfView += (outOfView.empty() ? "" : ", ") + actor.name + " (accuracy " +
                     std::to_string(frame->actors[i].accuracy) + ", " + outOfViewPlace(point) + ")";
      }
      continue;
    }
    shown.push_back({i, point.x * w, point.y * h});
    taken.push_back({point.x * w - 7, point.y * h - 7, point.x * w + 7, point.y * h + 7});
  }
  std::vector<std::string> drawn;  // the dots' colours, for the legend
  for (const Shown& dot : shown) {
    const bool treated = frame != nullptr && frame->actors[dot.index].accuracySets > 0;
    const char* colour = dot.index == 0 ? "#2b6cb0" : treated ? "#333333" : "#808080";
    out += svgDot(dot.x, dot.y, colour);
    if (std::find(drawn.begin(), drawn.end(), colour) == drawn.end()) drawn.push_back(colour);
    // Under the dot if nothing is there, else beside it, else above it, else a line further
    // out; failing all, where it covers least. A margin keeps a name from reading as part of a
    // label or another name beside it.
    const std::string& name = scene.actors[dot.index].name;
    const struct {
      double dx, dy;
      const char* anchor;
    } places[] = {{0, 20, "middle"},  {10, 4, "start"},  {-10, 4, "end"},
                  {0, -11, "middle"}, {0, 34, "middle"}, {0, -25, "middle"}};
    constexpr double margin = 6;
    const auto* place = std::begin(places);
    double leastCovered = HUGE_VAL;
    for (const auto* candidate = std::begin(places); candidate != std::end(places); ++candidate) {
      Box box =
          textBox(dot.x + candidate->dx, dot.y + candidate->dy, 12, name.size(), candidate->anchor);
      box = {box.left - margin, box.top - margin, box.right + margin, box.bottom + margin};
      double covered = 0;
      for (const Box& other : taken) {
        // Its own dot is no obstacle.
        if (!other.overlaps(box) || (other.left == dot.x - 7 && other.top == dot.y - 7)) continue;
        covered += (std::min(box.right, other.right) - std::max(box.left, other.left)) *
                   (std::min(box.bottom, other.bottom) - std::max(box.top, other.top));
      }
      if (covered < leastCovered) place = candidate, leastCovered = covered;
      if (covered == 0) break;
    }
    out += svgText(dot.x + place->dx, dot.y + place->dy, 12, place->anchor, colour, name);
    taken.push_back(textBox(dot.x + place->dx, dot.y + place->dy, 12, name.size(), place->anchor));
  }

  // The legend, under the view.
  const int strip = h;
  out += "  <rect y=\"" + std::to_string(strip) + "\" width=\"" + std::to_string(w) +
         "\" height=\"" + std::to_string(legendHeight) + "\" fill=\"#ffffff\"/>\n";
  // Only what the view shows gets an entry, one after the other.
  const double row1 = strip + 20;
  const auto drew = [&](const char* colour) {
    return std::find(drawn.begin(), drawn.end(), colour) != drawn.end();
  };
  const struct {
    bool drawn;
    const char* colour;
    const char* text;
  } entries[] = {
      {drew("#333333"), "#333333", "treated: the plug-in set its accuracy"},
      {drew("#808080"), "#808080", "not treated"},
      {drew("#2b6cb0"), "#2b6cb0", "the player"},
  };
  double x = 16;
  for (const auto& entry : entries) {
    if (!entry.drawn) continue;
    out +=
        svgDot(x, row1 - 4, entry.colour) + svgText(x + 12, row1, 13, "start", "#333", entry.text);
    x = textBox(x + 12, row1, 13, std::string_view(entry.text).size(), "start").right + 16;
  }
  if (frame != nullptr && !frame->labels.empty()) {
    out += svgText(x - 6, row1, 18, "start", "rgb(255,0,0)", "Accuracy: N") +
           svgText(x + 106, row1, 13, "start", "#333", "a label where the plug-in drew it");
  }
  const double row2 = strip + 44;
  out += svgText(8, row2, 13, "start", "#333",
                 outOfView.empty() ? "Every treated ped is in view."
                                   : "Treated, out of view: " + outOfView + ".");
  out += svgText(8, strip + 66, 13, "start", "#333",
                 "Scene \"" + scene.name + "\", frame " +
                     std::to_string(frame != nullptr ? frame->number : frameIndex + 1) +
                     ", the player's view");
  out += "</svg>\n";
  return out;
}

}  // namespace sim
