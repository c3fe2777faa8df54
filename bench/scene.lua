-- The benchmark scene, shared by the program, the bare reference and the peer framework, so all
-- three draw the same rectangles from the same Lua tables.
--
-- scene_build(count, textures, make) calls make(parent, left, top, texture) once per node, in
-- creation order: `count` nodes of 32 by 32 laid out as a 10-ary tree (node i's parent is node
-- (i - 2) // 10 + 1, node 1 hangs from the root), texture indices 0 .. textures - 1 in turn, and
-- positions from a fixed pseudo-random sequence. Children sit near their parents, so the
-- scene stays inside the 800 by 600 window at every depth.
function scene_build(count, textures, make)
  local seed = 20261208
  local function random(range)
    seed = (seed * 1103515245 + 12345) % 2147483648
    return math.floor(seed / 65536) % range
  end
  local nodes = {}
  for i = 1, count do
    local parent = nil
    local left, top
    if i == 1 then
      left, top = 384, 284
    else
      parent = nodes[math.floor((i - 2) / 10) + 1]
      left, top = random(161) - 80, random(121) - 60
    end
    nodes[i] = make(parent, left, top, (i - 1) % textures)
  end
  return nodes
end
