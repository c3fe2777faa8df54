// Text laid out in a box: FriBidi's levels, runs shaped by HarfBuzz in the font that has their
// characters, lines broken by libunibreak, then each line in visual order and aligned.
#include "render/TextLayout.h"

#include <fribidi.h>
#include <hb.h>
#include <linebreak.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"
#include "render/Fonts.h"

namespace {

constexpr uint32_t Replacement = 0xFFFD;
// Stands in, for the shaper, for a character that shows nothing: default-ignorable, so HarfBuzz
// drops it, and it joins nothing.
constexpr uint32_t Invisible = 0x2060;
// Widths within this of the box's still fit: sums of advances are not exact.
constexpr float Slack = 1e-3f;

// UTF-8 to characters; each maximal ill-formed part of a sequence becomes one U+FFFD.
std::vector<uint32_t> DecodeUtf8(const std::string& text) {
  std::vector<uint32_t> out;
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char lead = (unsigned char)text[i];
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    int length = 0;
    uint32_t value = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      value = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      value = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      out.push_back(Replacement);
      ++i;
      continue;
    }
    int k = 1;
    for (; k < length && i + k < n; ++k) {
      const unsigned char c = (unsigned char)text[i + k];
      if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) break;
      value = (value << 6) | (c & 0x3F);
    }
    out.push_back(k == length ? value : Replacement);
    i += k;
  }
  return out;
}

// Characters that show nothing and take no room: the default-ignorables (joiners, direction
// marks, variation selectors, ...) and the control characters.
bool ShowsNothing(uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x00AD || c == 0x034F || c == 0x061C ||
         (c >= 0x115F && c <= 0x1160) || (c >= 0x17B4 && c <= 0x17B5) ||
         (c >= 0x180B && c <= 0x180F) || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0x3164 ||
         (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF || c == 0xFFA0 ||
         (c >= 0xFFF0 && c <= 0xFFF8) || (c >= 0x1BCA0 && c <= 0x1BCA3) ||
         (c >= 0x1D173 && c <= 0x1D17A) || (c >= 0xE0000 && c <= 0xE0FFF);
}

// Blanks at the end of a line hang past the box: they neither count for its width nor show.
bool IsBlank(uint32_t c) {
  return c == ' ' || c == '\t' || c == 0x1680 || (c >= 0x2000 && c <= 0x200A && c != 0x2007) ||
         c == 0x205F || c == 0x3000 || ShowsNothing(c);
}

bool IsMark(uint32_t c) {
  switch (hb_unicode_general_category(hb_unicode_funcs_get_default(), c)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
      return true;
    default:
      return false;
  }
}

// One glyph as shaped, in logical units, with the character index its cluster starts at.
struct TShaped {
  TFont* font;
  unsigned glyph;
  int cluster;
  float advance, dx, dy;
};

// Characters [start, end) of one level, script and font, and their glyphs in logical order.
struct TRun {
  int start, end;
  size_t glyphBegin, glyphEnd;
  bool rightToLeft;
};

// A paragraph of text (between explicit line breaks) shaped and measured.
struct TParagraph {
  std::vector<uint32_t> text;
  std::vector<FriBidiCharType> types;
  std::vector<FriBidiLevel> levels;
  FriBidiParType direction = FRIBIDI_PAR_LTR;
  std::vector<TShaped> glyphs;
  std::vector<TRun> runs;
  std::vector<int> runOf;            // the run of each character
  std::vector<float> before;         // the advances of the characters before each, and of all
  std::vector<char> clusterStart;    // where a line may break inside a word
  std::vector<char> breaks;          // libunibreak's verdict after each character
  std::vector<FriBidiStrIndex> map;  // a line's visual order
};

// Lines are [start, end) of a paragraph's characters.
struct TLine {
  TParagraph* paragraph;
  int start, end;
  float width;
};

struct TLayoutContext {
  const std::string& lang;
  float size;
  TFont* primary;
  hb_buffer_t* buffer;
  hb_language_t language;
};

TFont* FontFor(uint32_t c, TFont* previous, const TLayoutContext& context) {
  // A mark stays with its base where that font can draw it, so they shape together.
  if (previous && IsMark(c) && previous->HasGlyph(c)) return previous;
  if (context.primary && context.primary->HasGlyph(c)) return context.primary;
  if (TFont* font = FallbackFont(c, context.lang)) return font;
  // No font has it: the text's own font shows its missing-glyph box.
  return context.primary;
}

void Bidi(TParagraph& p) {
  const int n = int(p.text.size());
  p.types.resize(n);
  p.levels.assign(n, 0);
  p.direction = FRIBIDI_PAR_LTR;
  if (n == 0) return;
  std::vector<FriBidiBracketType> brackets(n);
  fribidi_get_bidi_types(p.text.data(), n, p.types.data());
  fribidi_get_bracket_types(p.text.data(), n, p.types.data(), brackets.data());
  FriBidiParType direction = FRIBIDI_PAR_ON;
  if (fribidi_get_par_embedding_levels_ex(p.types.data(), brackets.data(), n, &direction,
                                          p.levels.data()) == 0) {
    std::fill(p.levels.begin(), p.levels.end(), 0);
    return;
  }
  p.direction = FRIBIDI_IS_RTL(direction) ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_LTR;
}

void Shape(TParagraph& p, const TLayoutContext& context) {
  const int n = int(p.text.size());
  p.runOf.assign(n, 0);
  p.before.assign(n + 1, 0);
  p.clusterStart.assign(n + 1, 0);
  p.clusterStart[n] = 1;
  if (n == 0) return;

  // What the shaper reads: characters that show nothing as one it drops, tabs as spaces.
  std::vector<uint32_t> shaped(p.text);
  std::vector<TFont*> fonts(n, nullptr);
  std::vector<hb_script_t> scripts(n, HB_SCRIPT_COMMON);
  hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
  TFont* previous = nullptr;
  for (int i = 0; i < n; ++i) {
    const uint32_t c = p.text[i];
    if (c == '\t') shaped[i] = ' ';
    if (ShowsNothing(c)) {
      // Joiners and direction marks keep their place for the shaper; the rest go.
      if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028) shaped[i] = Invisible;
      fonts[i] = previous;  // settled below when nothing came before
      continue;
    }
    fonts[i] = previous = FontFor(c, previous, context);
    const hb_script_t script = hb_unicode_script(unicode, c);
    if (script != HB_SCRIPT_COMMON && script != HB_SCRIPT_INHERITED && script != HB_SCRIPT_UNKNOWN)
      scripts[i] = script;
  }
  // Characters before the first visible one take its font; punctuation and digits take the
  // script of what they stand in.
  TFont* first = context.primary;
  for (int i = 0; i < n; ++i)
    if (fonts[i]) {
      first = fonts[i];
      break;
    }
  hb_script_t script = HB_SCRIPT_COMMON;
  for (int i = 0; i < n; ++i)
    if (scripts[i] != HB_SCRIPT_COMMON) {
      script = scripts[i];
      break;
    }
  for (int i = 0; i < n; ++i) {
    if (!fonts[i]) fonts[i] = first;
    if (scripts[i] == HB_SCRIPT_COMMON)
      scripts[i] = script;
    else
      script = scripts[i];
  }

  for (int start = 0; start < n;) {
    int end = start + 1;
    while (end < n && fonts[end] == fonts[start] && scripts[end] == scripts[start] &&
           p.levels[end] == p.levels[start])
      ++end;
    TRun run{start, end, p.glyphs.size(), p.glyphs.size(), (p.levels[start] & 1) != 0};
    TFont* font = fonts[start];
    if (font) {
      hb_buffer_t* buffer = context.buffer;
      hb_buffer_clear_contents(buffer);
      hb_buffer_add_codepoints(buffer, shaped.data(), n, unsigned(start), end - start);
      hb_buffer_set_direction(buffer, run.rightToLeft ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
      hb_buffer_set_script(buffer, scripts[start]);
      hb_buffer_set_language(buffer, context.language);
      hb_buffer_set_flags(buffer, hb_buffer_flags_t((start == 0 ? HB_BUFFER_FLAG_BOT : 0) |
                                                    (end == n ? HB_BUFFER_FLAG_EOT : 0) |
                                                    HB_BUFFER_FLAG_REMOVE_DEFAULT_IGNORABLES));
      hb_shape(font->Shaper(), buffer, nullptr, 0);
      unsigned count = 0;
      const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
      const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
      const float scale = font->LogicalScale(context.size);
      for (unsigned g = 0; g < count; ++g) {
        // Right-to-left runs come out in visual order; they are kept in logical order here.
        const unsigned k = run.rightToLeft ? count - 1 - g : g;
        const int cluster = std::min(std::max(int(infos[k].cluster), start), end - 1);
        p.glyphs.push_back({font, infos[k].codepoint, cluster, positions[k].x_advance * scale,
                            positions[k].x_offset * scale, positions[k].y_offset * scale});
      }
      run.glyphEnd = p.glyphs.size();
    }
    for (int i = start; i < end; ++i) p.runOf[i] = int(p.runs.size());
    p.clusterStart[start] = 1;
    p.runs.push_back(run);
    start = end;
  }

  std::vector<float> advance(n, 0);
  for (const TShaped& glyph : p.glyphs) {
    advance[glyph.cluster] += glyph.advance;
    p.clusterStart[glyph.cluster] = 1;
  }
  for (int i = 0; i < n; ++i) p.before[i + 1] = p.before[i] + advance[i];
}

void BreakLines(TParagraph& p, float boxWidth, std::vector<TLine>& lines) {
  const int n = int(p.text.size());
  // The width of [start, end) without its trailing blanks, and that end.
  const auto trimmed = [&p](int start, int end, int* trimmedEnd) {
    while (end > start && IsBlank(p.text[end - 1])) --end;
    if (trimmedEnd) *trimmedEnd = end;
    return p.before[end] - p.before[start];
  };
  const bool wrap = boxWidth > 0 && std::isfinite(boxWidth);
  int start = 0;
  do {
    int end = n;
    int lastBreak = -1;
    for (int i = start; i < n; ++i) {
      if (wrap && i > start && !IsBlank(p.text[i]) &&
          p.before[i + 1] - p.before[start] > boxWidth + Slack) {
        if (lastBreak > start) {
          end = lastBreak;
        } else {
          // A word wider than the box: as much of it as fits, cut between clusters, and at
          // least one cluster a line.
          end = -1;
          for (int e = i; e > start; --e)
            if (p.clusterStart[e] && trimmed(start, e, nullptr) <= boxWidth + Slack) {
              end = e;
              break;
            }
          if (end < 0) {
            end = start + 1;
            while (end < n && !p.clusterStart[end]) ++end;
          }
        }
        break;
      }
      if (i + 1 < n && p.breaks[i] == LINEBREAK_MUSTBREAK) {
        end = i + 1;
        break;
      }
      if (p.breaks[i] == LINEBREAK_ALLOWBREAK && p.clusterStart[i + 1]) lastBreak = i + 1;
    }
    TLine line{&p, start, end, 0};
    line.width = trimmed(start, end, &line.end);
    lines.push_back(line);
    start = end;
  } while (start < n);
}

// The glyphs of one line, left to right, from x = 0.
void PlaceLine(TParagraph& p, const TLine& line, float x, float baseline,
               std::vector<TPlacedGlyph>& out) {
  const int count = line.end - line.start;
  if (count <= 0) return;
  // FriBidi reads and writes only the line's part of the paragraph's arrays; the levels it
  // changes (blanks at the line's end) are not read again.
  std::vector<FriBidiStrIndex>& map = p.map;
  map.resize(p.text.size());
  for (int i = line.start; i < line.end; ++i) map[i] = FriBidiStrIndex(i);
  if (fribidi_reorder_line(0, p.types.data(), count, line.start, p.direction, p.levels.data(),
                           nullptr, map.data()) == 0)
    for (int i = line.start; i < line.end; ++i) map[i] = FriBidiStrIndex(i);  // logical order
  // Visual stretches of one run whose characters are consecutive; each shows its run's glyphs
  // for those characters, in the run's own order.
  int v = line.start;
  while (v < line.end) {
    const int run = p.runOf[map[v]];
    int low = map[v], high = map[v];
    int w = v + 1;
    while (w < line.end && p.runOf[map[w]] == run && std::abs(map[w] - map[w - 1]) == 1 &&
           (w == v + 1 || map[w] - map[w - 1] == map[v + 1] - map[v])) {
      low = std::min(low, int(map[w]));
      high = std::max(high, int(map[w]));
      ++w;
    }
    const TRun& r = p.runs[run];
    // A run's glyphs are in logical order, so those of the stretch lie together.
    const auto begin = p.glyphs.begin() + ptrdiff_t(r.glyphBegin);
    const auto end = p.glyphs.begin() + ptrdiff_t(r.glyphEnd);
    const auto first = std::lower_bound(
        begin, end, low, [](const TShaped& glyph, int cluster) { return glyph.cluster < cluster; });
    const auto last = std::upper_bound(first, end, high, [](int cluster, const TShaped& glyph) {
      return cluster < glyph.cluster;
    });
    const auto place = [&](const TShaped& glyph) {
      out.push_back({glyph.font, glyph.glyph, x + glyph.dx, baseline - glyph.dy});
      x += glyph.advance;
    };
    if (r.rightToLeft) {
      for (auto g = last; g != first; --g) place(*(g - 1));
    } else {
      for (auto g = first; g != last; ++g) place(*g);
    }
    v = w;
  }
}

// Paragraphs end at line feeds, carriage returns (a CR LF pair is one end), next-line and
// paragraph separators.
std::vector<TParagraph> SplitParagraphs(const std::vector<uint32_t>& text) {
  std::vector<TParagraph> paragraphs(1);
  for (size_t i = 0; i < text.size(); ++i) {
    const uint32_t c = text[i];
    if (c == '\n' || c == '\r' || c == 0x85 || c == 0x2029) {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      paragraphs.emplace_back();
    } else {
      paragraphs.back().text.push_back(c);
    }
  }
  return paragraphs;
}

}  // namespace

namespace {

std::string DefaultLanguageSet;

const std::string& DefaultLanguage() {
  static const std::string userLanguage = UserLanguage();
  return DefaultLanguageSet.empty() ? userLanguage : DefaultLanguageSet;
}

}  // namespace

void SetDefaultTextLanguage(const std::string& lang) {
  DefaultLanguageSet = lang;
}

TTextLayout LayOutText(const std::string& utf8, const TTextStyle& style, float boxWidth,
                       float boxHeight) {
  TTextLayout layout;
  if (utf8.empty()) return layout;
  static const bool breakerReady = (init_linebreak(), true);
  (void)breakerReady;

  const float size =
      std::isfinite(style.size) ? std::min(std::max(style.size, 1.0f), 256.0f) : 16.0f;
  const float lineHeight = std::isfinite(style.lineHeight) && style.lineHeight > 0
                               ? std::min(style.lineHeight, 100.0f)
                               : 1.2f;
  TFont* primary = FamilyFont(style.font);
  if (!primary && !style.font.empty() && style.font != "sans" && style.font != "serif" &&
      style.font != "mono")
    primary = OpenFont(style.font, 0);
  if (!primary) primary = FamilyFont("sans");

  // The language picks forms (Japanese or Chinese Han glyphs), fallback fonts and line-break
  // rules; a scene that names none gets the user's.
  const std::string& lang = style.lang.empty() ? DefaultLanguage() : style.lang;
  hb_buffer_t* buffer = hb_buffer_create();
  const hb_language_t language =
      lang.empty() ? HB_LANGUAGE_INVALID : hb_language_from_string(lang.c_str(), -1);
  const TLayoutContext context{lang, size, primary, buffer, language};
  const std::string breakLanguage = lang.substr(0, lang.find_first_of("-_"));

  std::vector<TParagraph> paragraphs = SplitParagraphs(DecodeUtf8(utf8));
  std::vector<TLine> lines;
  for (TParagraph& p : paragraphs) {
    Bidi(p);
    Shape(p, context);
    p.breaks.assign(p.text.size(), LINEBREAK_NOBREAK);
    if (!p.text.empty()) {
      // The line breaker takes U+FFFF for the end of the text (and asserts that it is); the
      // noncharacter breaks as any unknown character does.
      std::vector<utf32_t> breakable(p.text.begin(), p.text.end());
      std::replace(breakable.begin(), breakable.end(), utf32_t(0xFFFF), utf32_t(Replacement));
      set_linebreaks_utf32(breakable.data(), breakable.size(),
                           breakLanguage.empty() ? nullptr : breakLanguage.c_str(),
                           p.breaks.data());
    }
    BreakLines(p, boxWidth, lines);
  }
  hb_buffer_destroy(buffer);

  const float pitch = size * lineHeight;
  size_t kept = lines.size();
  if (boxHeight > 0 && std::isfinite(boxHeight))
    kept = std::min(kept, std::max<size_t>(1, size_t((boxHeight + Slack) / pitch)));
  lines.resize(kept);
  for (const TLine& line : lines) layout.width = std::max(layout.width, line.width);
  layout.height = pitch * float(kept);

  // The baseline sits where the text's own font puts it in a line of its pitch, half the
  // leading above and half below.
  float ascent = 0.8f * size, descent = 0.2f * size;
  if (primary) {
    ascent = primary->Ascent() * primary->LogicalScale(size);
    descent = primary->Descent() * primary->LogicalScale(size);
  }
  const float baseline = (pitch - ascent - descent) / 2 + ascent;
  const bool boxed = boxWidth > 0 && std::isfinite(boxWidth);
  const float across = boxed ? boxWidth : layout.width;
  float top = 0;
  if (boxHeight > 0 && std::isfinite(boxHeight)) {
    if (style.valign == TTextStyle::VAlign::Middle) top = (boxHeight - layout.height) / 2;
    if (style.valign == TTextStyle::VAlign::Bottom) top = boxHeight - layout.height;
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    const TLine& line = lines[i];
    TTextStyle::Align align = style.align;
    if (align == TTextStyle::Align::Auto)
      align = line.paragraph->direction == FRIBIDI_PAR_RTL ? TTextStyle::Align::Right
                                                           : TTextStyle::Align::Left;
    float x = 0;
    if (align == TTextStyle::Align::Center) x = (across - line.width) / 2;
    if (align == TTextStyle::Align::Right) x = across - line.width;
    PlaceLine(*line.paragraph, line, x, top + pitch * float(i) + baseline, layout.glyphs);
  }
  return layout;
}
