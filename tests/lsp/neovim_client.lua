-- Neovim's own language client against qvblsp, started by the repository's
-- plugin (editors/nvim): a song with an error gets its diagnostic at the
-- faulty command; once fixed, the diagnostics clear, a hover on a note tells
-- its pitch, completion offers the commands, a timbre goes to its wave, and
-- played from the cursor on the silent output, the notes heard are lit in turn.
-- Run by neovim_client_test.sh; QVBLSP names the server, QVB_NVIM_PLUGIN the plugin. Every wait polls
-- with a generous bound; any failure ends Neovim with status 1.
local function run()
  local server = assert(os.getenv('QVBLSP'), 'QVBLSP is not set')
  local song = vim.fn.tempname() .. '.qvm'
  vim.fn.writefile({ '#TITLE <t>', '#CHANNEL 1', '#A t120 v12 o5 a4 c v16 d @3 e', '#WAV 3,<[32 0,]>' }, song)
  -- The repository's plugin starts the server for the song, on the silent output.
  vim.opt.runtimepath:prepend(assert(os.getenv('QVB_NVIM_PLUGIN'), 'QVB_NVIM_PLUGIN is not set'))
  vim.cmd('runtime ftdetect/qvm.lua')
  vim.cmd('runtime plugin/qvblsp.lua')
  local qvblsp = require('qvblsp')
  qvblsp.setup({ cmd = { server, '--null' } })
  vim.cmd('edit ' .. vim.fn.fnameescape(song))
  local buf = vim.api.nvim_get_current_buf()
  assert(vim.bo[buf].filetype == 'qvm', 'the song is not of the qvm file type')
  local id = qvblsp.client_id()
  assert(id, 'the server did not start')

  assert(vim.wait(30000, function() return #vim.diagnostic.get(buf) > 0 end, 20), 'no diagnostic arrived')
  local d = vim.diagnostic.get(buf)[1]
  assert(d.lnum == 2 and d.col == 20 and d.end_lnum == 2 and d.end_col == 23,
    ('the diagnostic is at %d:%d-%d:%d, not over v16'):format(d.lnum, d.col, d.end_lnum, d.end_col))
  assert(d.severity == vim.diagnostic.severity.ERROR, 'the diagnostic is no error')
  assert(d.message:find('v volume outside 0..15', 1, true), 'the message is ' .. d.message)

  vim.api.nvim_buf_set_lines(buf, 2, 3, false, { '#A t120 v12 o5 a4 c v6 d @3 e' })
  assert(vim.wait(30000, function() return #vim.diagnostic.get(buf) == 0 end, 20), 'the fixed song kept its diagnostic')

  local at = { textDocument = { uri = vim.uri_from_bufnr(buf) }, position = { line = 2, character = 15 } }
  local replies = vim.lsp.buf_request_sync(buf, 'textDocument/hover', at, 30000)
  local hover = replies and replies[id] and replies[id].result
  assert(hover, 'no hover came back')
  local text = hover.contents.value
  assert(text:find('440 Hz', 1, true) and text:find('octave 5', 1, true) and text:find('channel A', 1, true),
    'the hover says ' .. text)

  replies = vim.lsp.buf_request_sync(buf, 'textDocument/completion', at, 30000)
  local items = replies and replies[id] and replies[id].result
  assert(items, 'no completion came back')
  local labels = {}
  for _, item in ipairs(items.items or items) do labels[item.label] = true end
  assert(labels['#TITLE'] and labels['v'] and labels['mp'], 'completion lacks #TITLE, v or mp')

  -- The timbre @3 (row 26) goes to the #WAV 3 on the next line.
  local timbre = { textDocument = at.textDocument, position = { line = 2, character = 26 } }
  replies = vim.lsp.buf_request_sync(buf, 'textDocument/definition', timbre, 30000)
  local places = replies and replies[id] and replies[id].result
  assert(places and #places == 1 and places[1].range.start.line == 3 and places[1].range.start.character == 0,
    'the timbre went to ' .. vim.inspect(places))

  -- Played from the cursor on the c, the c is lit as heard, then the d.
  vim.api.nvim_win_set_cursor(0, { 3, 18 })
  vim.cmd('QvbPlayFrom')
  local function lit()
    local marks = vim.api.nvim_buf_get_extmarks(buf, qvblsp.namespace, 0, -1, { details = true })
    local cols = {}
    for _, m in ipairs(marks) do
      if m[2] == 2 and m[4].hl_group == 'QvbHeard' then cols[m[3]] = m[4].end_col end
    end
    return cols
  end
  assert(vim.wait(10000, function() return lit()[18] == 19 end, 10), 'the c was not lit as heard')
  assert(vim.wait(10000, function() return lit()[23] == 24 end, 10), 'the d was not lit after it')
  vim.cmd('QvbStop')
  assert(vim.wait(10000, function() return next(lit()) == nil end, 10), 'the light stayed after the stop')

  vim.lsp.stop_client(id)
  assert(vim.wait(30000, function() return vim.lsp.client_is_stopped(id) end, 20), 'the server did not stop')
  os.remove(song)
end

local ok, err = pcall(run)
if ok then
  vim.cmd('qall!')
else
  io.stderr:write('neovim_client.lua: ' .. tostring(err) .. '\n')
  vim.cmd('cquit 1')
end
