-- The benchmark scene in the peer framework: the same tree as plain Lua tables, read field by
-- field every frame and drawn with love.graphics.draw, timing its own frames.
-- Arguments: <scene.lua> <count> <textures> <frames> <mode> <texture files...>
-- mode "frames" prints the median frame in ms; "first" quits after the first presented frame;
-- "memory" draws the frames and quits (the caller reads the peak resident size).
local args = arg
local base = 2
while args[base] and not args[base]:match("scene%.lua$") do base = base + 1 end
local scenePath, count, textures, frames, mode =
  args[base], tonumber(args[base + 1]), tonumber(args[base + 2]), tonumber(args[base + 3]),
  args[base + 4]

local images = {}
local roots = {}

local function make(parent, left, top, texture)
  local node = { left = left, top = top, width = 32, height = 32, texture = texture, nodes = {} }
  local list = parent and parent.nodes or roots
  list[#list + 1] = node
  return node
end

local function draw(list, ox, oy)
  for i = 1, #list do
    local node = list[i]
    local x, y = ox + node.left, oy + node.top
    local w, h = node.width, node.height
    local image = images[node.texture + 1]
    love.graphics.draw(image, x, y, 0, w / image:getWidth(), h / image:getHeight())
    draw(node.nodes, x, y)
  end
end

function love.run()
  local chunk = assert(loadfile(scenePath))
  chunk()
  for k = 1, textures do
    local file = io.open(args[base + 4 + k], "rb")
    local data = love.filesystem.newFileData(file:read("*a"), "t" .. k .. ".bmp")
    file:close()
    images[k] = love.graphics.newImage(love.image.newImageData(data))
  end
  scene_build(count, textures, make)

  local times = {}
  return function()
    love.event.pump()
    for name in love.event.poll() do
      if name == "quit" then return 0 end
    end
    local start = love.timer.getTime()
    love.graphics.origin()
    love.graphics.clear(0, 0, 0, 0)
    draw(roots, 0, 0)
    love.graphics.present()
    if mode == "first" then return 0 end
    times[#times + 1] = (love.timer.getTime() - start) * 1000
    if #times >= frames then
      if mode == "frames" then
        table.sort(times)
        io.write(string.format("%.3f\n", times[math.floor((#times + 1) / 2)]))
        io.flush()
      end
      return 0
    end
  end
end
