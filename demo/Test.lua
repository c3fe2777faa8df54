-- Kestrune demo scene.
--
-- Every node is a Lua table with left, top, width and height (relative to its parent) and a set
-- of pictures cut from textures. The program reads those fields on every frame, so moving a node
-- is just writing to its table. Handlers are fields named "on" + event: onLeftPress,
-- onLeftRelease, onRightPress, onMouseEnter, onMouseLeave, onWheelUp, ... receive (node, x, y);
-- onKeyPress, onKeyRelease and onTextInput go to the root with the key or the text, and so does
-- onTick with the time since the last tick.

-- Textures: createTexture returns an index. The optional width and height are the units that
-- picture source rectangles are measured in (here the image's own size in pixels).
local sheet = createTexture("buttons.bmp", 384, 192) -- three buttons: raised, pressed, lit
local sky = createTexture("backdrop.jpg")            -- the whole image, no source rectangle
local tile = createTexture("ball.tga", 64, 64)       -- the ball on a dark tile
local ball = createTexture("ball.png", 64, 64)       -- the ball alone, cut out
local round = createTexture("play.png", 192, 64)     -- a PNG with transparency: cut-outs

-- The root node is the global `root`. Give it the whole window and a backdrop picture.
root.setAttr{ left = 0, top = 0, width = 800, height = 600 }
root.createPicture("sky", sky)
root.setPicture("sky")

-- A button lights up while the pointer is over it (unless it is held down). Every node with
-- onMouseEnter or onMouseLeave hears the pointer come and go, not only the deepest one.
local function lightUp(button)
  function button:onMouseEnter()
    self.hovered = true
    if self.getPicture() == "up" then self.setPicture("lit") end
  end

  function button:onMouseLeave()
    self.hovered = false
    if self.getPicture() == "lit" then self.setPicture("up") end
  end
end

-- A menu: one parent node, three button children. Each button has three pictures cut from the
-- same texture with source rectangles (left, top, width, height in the texture's units).
local menu = root.createNode{ id = "menu", left = 40, top = 60, width = 128, height = 232 }
local names = { "circle", "square", "triangle" }

for i, name in ipairs(names) do
  local row = (i - 1) * 64
  local button = menu.createNode{ id = name, left = 0, top = (i - 1) * 84, width = 128, height = 64 }
  button.createPicture("up", sheet, 0, row, 128, 64)
  button.createPicture("down", sheet, 128, row, 128, 64)
  button.createPicture("lit", sheet, 256, row, 128, 64)
  button.setPicture("up")

  -- Node functions are called with a dot; the handler gets its own node table as `self`.
  function button:onLeftPress(x, y)
    self.setPicture("down")
    print("pressed", self.id, x, y)
  end

  function button:onLeftRelease(x, y)
    self.setPicture(self.hovered and "lit" or "up")
    print("released", self.id, x, y)
  end

  lightUp(button)
end

-- A round button cut out of a PNG. Where the file is transparent (the corners, the soft rim and
-- shadow) the sky drawn before it shows through; only pictures of files with transparency are
-- blended like this.
local play = root.createNode{ id = "play", left = 620, top = 80, width = 96, height = 96 }
play.createPicture("up", round, 0, 0, 64, 64)
play.createPicture("down", round, 64, 0, 64, 64)
play.createPicture("lit", round, 128, 0, 64, 64)
play.setPicture("up")

function play:onLeftPress(x, y)
  self.setPicture("down")
  print("pressed", self.id, x, y)
end

lightUp(play)

-- A release away from the button it was pressed on still reaches the root (the left button is
-- followed outside the window too): put every button back up.
function root:onLeftRelease(x, y)
  for _, name in ipairs(names) do
    local button = menu.getNode(name)
    button.setPicture(button.hovered and "lit" or "up")
  end
  play.setPicture(play.hovered and "lit" or "up")
end

-- Nested nodes: a ball carrying a small moon. The moon's position is relative to the ball, so
-- moving the ball moves both. A click on either moves the pair along the hills.
local orbit = root.createNode{ id = "orbit", left = 300, top = 380, width = 96, height = 96 }
orbit.createPicture("ball", ball)
orbit.setPicture("ball")

local moon = orbit.createNode{ id = "moon", left = 84, top = -20, width = 32, height = 32 }
moon.createPicture("small", ball)
moon.setPicture("small")

local function step()
  orbit.left = orbit.left + 60
  if orbit.left > 680 then orbit.left = 220 end
  print("moved", "orbit", orbit.left, orbit.top)
end

function orbit:onLeftPress() step() end
function moon:onLeftPress() step() end

-- Time: the moon circles the ball with the scene's clock. root:onTick(dt) runs on every tick,
-- before the frame; kestrune.time() is the scene's time in seconds. Ticks come every 16 ms here
-- (about 60 frames a second) instead of the usual 55, so the circling is smooth.
kestrune.setTickInterval(0.016)
function root:onTick(dt)
  local angle = kestrune.time() * 2 -- radians: a turn in about three seconds
  moon.left = 32 + math.cos(angle) * 60
  moon.top = 32 + math.sin(angle) * 60
end

-- A panel the play button opens: a filled rectangle with the tiled ball and a close box. It
-- fades in (its children with it), and fades out and is removed when closed. Fill and opacity
-- are set through the kestrune table, not as fields of the node.
local panel
local function closePanel()
  if not panel then return end
  local closing = panel
  panel = nil
  kestrune.animate(closing, 0.2, { opacity = 0 }, "in", function() kestrune.remove(closing) end)
end

local function openPanel()
  if panel then return end
  panel = root.createNode{ id = "panel", left = 560, top = 190, width = 200, height = 140 }
  kestrune.setFill(panel, { 0.08, 0.09, 0.2, 0.85 })
  local icon = panel.createNode{ left = 20, top = 38, width = 64, height = 64 }
  icon.createPicture("tile", tile)
  icon.setPicture("tile")
  local close = panel.createNode{ id = "close", left = 168, top = 8, width = 24, height = 24 }
  kestrune.setFill(close, { 0.75, 0.2, 0.2 })
  function close:onMouseEnter() kestrune.setFill(self, { 0.95, 0.35, 0.3 }) end
  function close:onMouseLeave() kestrune.setFill(self, { 0.75, 0.2, 0.2 }) end
  function close:onLeftPress() closePanel() end
  kestrune.setOpacity(panel, 0)
  kestrune.animate(panel, 0.3, { opacity = 1 }, "out")
end

local pressPlay = play.onLeftPress
function play:onLeftPress(x, y)
  pressPlay(self, x, y)
  if panel then closePanel() else openPanel() end
end

-- The wheel turns the pair along too, and so do the arrow keys: keys go to the root, which
-- decides what they do.
function orbit:onWheelDown() step() end
function root:onKeyPress(key, isRepeat)
  if key == "right" or key == "space" then step() end
  if key == "escape" then print("escape pressed") end
end

-- A right click anywhere names the deepest node that has no handler of its own for it.
function root:onRightPress(x, y)
  print("right", x, y)
end

-- Text: kestrune.setText gives a node a text, drawn over its fill and picture and wrapped to
-- its width. The style's font is "sans" (the default), "serif", "mono" or a .ttf/.otf/.ttc file
-- found as textures are; size, color, align, valign, lineHeight and lang are optional too.
-- Characters the font lacks come from another font that has them.
local title = root.createNode{ id = "title", left = 200, top = 14, width = 400, height = 40 }
kestrune.setText(title, "Kestrune demo", { font = "serif", size = 30, align = "center",
                                          color = { 1, 1, 0.85 } })

-- A counter: the text is set again on every click.
local counter = root.createNode{ id = "counter", left = 220, top = 70, width = 200, height = 34 }
kestrune.setFill(counter, { 0.1, 0.25, 0.45, 0.85 })
local clicks = 0
local function showClicks()
  kestrune.setText(counter, "Clicks: " .. clicks, { size = 18, align = "center", valign = "middle" })
end
showClicks()
function counter:onLeftPress()
  clicks = clicks + 1
  showClicks()
end

-- Right to left and joined, and Japanese: shaped, ordered and found in whichever font has them.
local lines = root.createNode{ id = "lines", left = 200, top = 500, width = 400, height = 84 }
kestrune.setFill(lines, { 0, 0, 0, 0.45 })
local arabic = lines.createNode{ left = 10, top = 6, width = 380, height = 36 }
kestrune.setText(arabic, "مرحبا بالعالم", { size = 24, align = "center", lang = "ar" })
local japanese = lines.createNode{ left = 10, top = 44, width = 380, height = 36 }
kestrune.setText(japanese, "こんにちは、世界", { size = 24, align = "center", lang = "ja" })

print("ready", #names, "buttons")
