-- qvblsp in Neovim: starts the server for qvm buffers (with vim.lsp.start
-- where Neovim has it, else start_client and buf_attach_client, as 0.7
-- has), lights the notes the server says are heard (qvb/heard) and plays
-- through its commands: qvb.play, qvb.playFrom, qvb.playSelection, qvb.stop.
local M = {}

M.config = {
  cmd = { 'qvblsp' }, -- add '--null' to play on a silent output
  keys = true,        -- <leader>qp play (a selection in visual mode), <leader>qc from the cursor, <leader>qs stop
}
M.namespace = vim.api.nvim_create_namespace('qvblsp_heard')
M.heard = nil -- the last qvb/heard the server sent

local client_id = nil

vim.cmd('highlight default link QvbHeard IncSearch')

function M.setup(options)
  M.config = vim.tbl_extend('force', M.config, options or {})
end

-- The notes heard now, as highlights over their text; the old ones go.
local function heard(_, result)
  if not result then return end
  M.heard = result
  local buf = vim.uri_to_bufnr(result.uri)
  if not vim.api.nvim_buf_is_loaded(buf) then return end
  vim.api.nvim_buf_clear_namespace(buf, M.namespace, 0, -1)
  local count = vim.api.nvim_buf_line_count(buf)
  for _, note in ipairs(result.notes or {}) do
    local s, e = note.range.start, note.range['end']
    if s.line < count then
      local text = vim.api.nvim_buf_get_lines(buf, s.line, s.line + 1, false)[1] or ''
      local from = vim.str_byteindex(text, math.min(s.character, vim.str_utfindex(text)), true)
      local to = vim.str_byteindex(text, math.min(e.character, vim.str_utfindex(text)), true)
      vim.api.nvim_buf_set_extmark(buf, M.namespace, s.line, from,
        { end_row = s.line, end_col = to, hl_group = 'QvbHeard', priority = 250 }) -- over a diagnostic's underline
    end
  end
end

local function clear_all()
  for _, buf in ipairs(vim.api.nvim_list_bufs()) do
    if vim.api.nvim_buf_is_loaded(buf) then vim.api.nvim_buf_clear_namespace(buf, M.namespace, 0, -1) end
  end
end

function M.client_id() return client_id end

local function map_keys(buf)
  local function map(mode, lhs, fn, desc)
    vim.keymap.set(mode, lhs, fn, { buffer = buf, desc = desc })
  end
  map('n', '<leader>qp', M.play, 'Play the song')
  map('x', '<leader>qp', function()
    local a, b = vim.fn.line('v'), vim.fn.line('.')
    vim.api.nvim_feedkeys(vim.api.nvim_replace_termcodes('<Esc>', true, false, true), 'n', false)
    M.play_selection(math.min(a, b), math.max(a, b))
  end, 'Play the selection again and again')
  map('n', '<leader>qc', M.play_from, 'Play from the cursor')
  map('n', '<leader>qs', M.stop, 'Stop the sound')
end

-- Starts the server once and attaches the buffer to it.
function M.attach(buf)
  buf = buf or vim.api.nvim_get_current_buf()
  local config = {
    name = 'qvblsp',
    cmd = M.config.cmd,
    root_dir = vim.fn.fnamemodify(vim.api.nvim_buf_get_name(buf), ':p:h'),
    handlers = { ['qvb/heard'] = heard },
    on_exit = function() vim.schedule(clear_all) end,
  }
  if client_id and vim.lsp.client_is_stopped(client_id) then client_id = nil end
  if vim.lsp.start then
    client_id = vim.lsp.start(config, { bufnr = buf })
  else
    client_id = client_id or vim.lsp.start_client(config)
    if client_id then vim.lsp.buf_attach_client(buf, client_id) end
  end
  if client_id and M.config.keys then map_keys(buf) end
  return client_id
end

local function execute(command, arguments)
  local client = client_id and vim.lsp.get_client_by_id(client_id)
  if not client then
    vim.notify('qvblsp is not running', vim.log.levels.WARN)
    return
  end
  if not client.initialized then -- a request now would come before the song is open
    vim.notify('qvblsp is still starting', vim.log.levels.WARN)
    return
  end
  client.request('workspace/executeCommand', { command = command, arguments = arguments }, function(err)
    if err then vim.notify('qvblsp: ' .. err.message, vim.log.levels.ERROR) end
  end, vim.api.nvim_get_current_buf())
end

local function uri() return vim.uri_from_bufnr(vim.api.nvim_get_current_buf()) end

function M.play() execute('qvb.play', { uri() }) end

function M.play_from()
  execute('qvb.playFrom', { uri(), vim.lsp.util.make_position_params().position })
end

-- Lines first to last (1-based), whole.
function M.play_selection(first, last)
  local text = vim.api.nvim_buf_get_lines(0, last - 1, last, false)[1] or ''
  execute('qvb.playSelection', { uri(), {
    start = { line = first - 1, character = 0 },
    ['end'] = { line = last - 1, character = vim.str_utfindex(text) },
  } })
end

function M.stop()
  execute('qvb.stop', {})
  clear_all()
end

return M
