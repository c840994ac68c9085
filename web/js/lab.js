'use strict';
// The page: the scenario's controls and address, the runs, and for each
// run its diagram, its state at the cursor, its output and linksim-check's
// verdict on its trace; or, for a trace opened from disk, the same for it;
// or an exercise (exercise.js), graded from its run. Everything a file or
// the address brings is shown as text.

const lab = {
  scenario: null,
  columns: [],  // {run, result, trace, verdict, named, known, element parts}
  mode: 'runs',  // or 'file', a trace opened from disk
  clock: Infinity,  // the cursor; Infinity: the end
  t0: 0,
  span: 100,  // ticks on screen
  playing: false,
  speed: 20,  // ticks a second
  timings: {},  // ms: firstRun (from the page's start), lastRun
  runs: 0,
  shown: 0,  // columns shown so far: a test waits for the next
  exercise: null,  // the address's exercise, a LabExercise
  answerLines: null,  // its graded answers' trace lines -> question numbers
  gradings: 0,  // predictions graded or refused so far
};

const $ = (id) => document.getElementById(id);

/// A new element `tag` with `text` as its text and `className`.
function element(tag, className = '', text = null) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== null) made.textContent = text;
  return made;
}

function linkDefaults() {
  return labLinkSettings($('lab-link').textContent);
}

// --- Controls ----------------------------------------------------------------

/// Builds the controls from the tables: the protocols, every variable of
/// linksim-arq's table (its range, default and help the table's) and the
/// eight link settings.
function buildControls() {
  const protocols = $('protocols');
  for (let i = 0; i < LAB_MOST_PROTOCOLS; ++i) {
    const select = element('select');
    select.id = `protocol-${i}`;
    select.setAttribute('aria-label', i === 0 ? 'protocol' : `protocol ${i + 1}, beside it`);
    if (i > 0) select.appendChild(element('option', '', i === 1 ? '(none beside it)' : '(none)')).value = '';
    for (const p of LAB_PROTOCOLS) {
      select.appendChild(element('option', '', p.name + (i === 0 && p.name === labUnsetProtocol ? ' (unset)' : ''))).value = p.name;
    }
    select.addEventListener('change', () => {
      const names = [];
      for (let j = 0; j < LAB_MOST_PROTOCOLS; ++j) {
        const value = $(`protocol-${j}`).value;
        if (value !== '') names.push(value);
      }
      lab.scenario.protocols = names.length === 1 && names[0] === labUnsetProtocol &&
          lab.scenario.protocols.length === 0 ? [] : names;
      changed();
    });
    protocols.appendChild(select);
  }
  const variables = $('variables');
  for (const v of LAB_VARIABLES) {
    const row = element('label', 'control');
    row.dataset.variable = v.name;
    row.appendChild(element('span', 'name', v.name));
    const input = element('input');
    input.type = 'text';
    input.id = v.name;
    input.placeholder = v.default;
    input.spellcheck = false;
    input.autocomplete = 'off';
    if (v.choices) {
      const list = element('datalist');
      list.id = `${v.name}-choices`;
      for (const choice of v.choices) list.appendChild(element('option')).value = choice;
      row.appendChild(list);
      input.setAttribute('list', list.id);
    }
    input.addEventListener('change', () => {
      lab.scenario.setVariable(v.name, input.value === '' ? null : input.value);
      changed();
    });
    row.appendChild(input);
    const clicks = v.name === LAB_DROP ? '; a click on a frame adds it' : '';
    row.appendChild(element('span', 'help', `${v.help} (${v.range}; unset: ${v.default}${clicks})`));
    variables.appendChild(row);
  }
  const link = $('link');
  for (const [key, value] of linkDefaults()) {
    const row = element('label', 'control');
    row.appendChild(element('span', 'name', key));
    const input = element('input');
    input.type = 'text';
    input.dataset.key = key;
    input.placeholder = value;
    input.spellcheck = false;
    input.addEventListener('change', () => {
      lab.scenario.setLink(key, input.value);
      changed();
    });
    row.appendChild(input);
    link.appendChild(row);
  }
}

/// Shows the scenario in the controls.
function showScenario() {
  const s = lab.scenario;
  const names = s.protocols.length > 0 ? s.protocols : [labUnsetProtocol];
  for (let i = 0; i < LAB_MOST_PROTOCOLS; ++i) {
    const select = $(`protocol-${i}`);
    const name = names[i] || '';
    if (name !== '' && ![...select.options].some((o) => o.value === name)) {
      // A name the program does not know: kept, for the program to refuse.
      select.appendChild(element('option', '', name)).value = name;
    }
    select.value = name;
  }
  for (const v of LAB_VARIABLES) {
    $(v.name).value = s.variables.has(v.name) ? s.variables.get(v.name) : '';
    const read = names.some((p) => labReads(v, p));
    $(v.name).parentElement.classList.toggle('unread', !read);
  }
  for (const input of $('link').querySelectorAll('input')) {
    input.value = s.link.has(input.dataset.key) ? s.link.get(input.dataset.key) : '';
  }
  const others = [...s.variables.keys()].filter((n) => !LAB_VARIABLES.some((v) => v.name === n));
  const notes = [];
  if (others.length > 0) notes.push(`Passed on as the address gives them: ${others.join(', ')}.`);
  if (s.ignored.length > 0) notes.push(`Not part of a scenario, so left out: ${s.ignored.join(', ')}.`);
  $('address-notes').textContent = notes.join(' ');
  $('command').textContent = s.command();
}

/// A control changed: the address, the command and the runs follow. An
/// exercise is left for the scenario as changed; its link opens it again.
function changed() {
  if (lab.exercise) {
    lab.exercise = null;
    lab.answerLines = null;
    lab.scenario.order = null;
    showExercise();
  }
  history.replaceState(null, '', '#' + lab.scenario.toFragment());
  showScenario();
  runScenario();
}

// --- Runs ---------------------------------------------------------------------

/// The run's own figures beside its trace, from its stats row.
function statsRow(text) {
  if (!text) return {};
  const [header, row] = text.split('\n');
  if (!row) return {};
  const names = header.split(',');
  const values = row.split(',');
  return Object.fromEntries(names.map((n, i) => [n, values[i]]));
}

/// Runs every protocol of the scenario and shows them; gives the columns
/// shown, or null where a later run came first.
async function runScenario() {
  const started = performance.now();
  const ticket = ++lab.runs;
  const s = lab.scenario;
  const settings = s.settingsText();
  const columns = [];
  for (const run of s.runs()) {
    const result = await Engine.run('arq', {
      args: ['link.txt'], env: run.env, files: {'link.txt': settings},
      outputs: [run.files.trace, run.files.stats],
    });
    const traceText = result.files[run.files.trace];
    const column = {run, result, trace: null, verdict: null, named: null,
      known: {}, words: (run.protocol || LAB_ANY_PROTOCOL).words,
      title: run.name || `${labUnsetProtocol} (${LAB_ARQ} unset)`};
    if (result.status === 0 && typeof traceText === 'string') {
      column.trace = new Trace(traceText);
      column.verdict = await Engine.run('check', {
        args: [run.files.trace], files: {[run.files.trace]: traceText},
      });
      column.named = namedLine(column.verdict.stdout);
      const stats = statsRow(result.files[run.files.stats]);
      column.known = {
        window: stats.window, timeout: stats.timeout,
        sequenceBits: stats.sequence_bits,
      };
    }
    columns.push(column);
  }
  if (ticket !== lab.runs) return null;  // a later change ran again meanwhile
  lab.mode = 'runs';
  showColumns(columns);
  const ms = performance.now() - started;
  lab.timings.lastRun = ms;
  if (lab.timings.firstRun === undefined) lab.timings.firstRun = performance.now();
  $('status').textContent = `Ran ${columns.length === 1 ? 'once' : columns.length + ' protocols'} in ${ms.toFixed(0)} ms.` +
      (lab.note ? ' ' + lab.note : '');
  lab.note = '';
  return columns;
}

/// The line linksim-check's verdict names, or null.
function namedLine(verdict) {
  const match = /^linksim-check: .*?:([0-9]+): /.exec(verdict || '');
  return match ? Number(match[1]) : null;
}

/// Opens a trace from disk: drawn, checked and explained as a run's.
async function openTrace(name, text) {
  ++lab.runs;
  const verdict = await Engine.run('check', {args: [name], files: {[name]: text}});
  const trace = new Trace(text);
  const column = {run: null, result: null, trace, verdict, named: namedLine(verdict.stdout),
    known: {}, words: LAB_ANY_PROTOCOL.words, title: name};
  lab.mode = 'file';
  showColumns([column]);
  $('status').textContent = `Opened the trace ${name}: ${trace.count} rows.`;
  if (column.named !== null) seekLine(column, column.named);
}

// --- Columns -------------------------------------------------------------------

function showColumns(columns) {
  lab.columns = columns;
  lab.shown = (lab.shown || 0) + 1;
  const area = $('columns');
  area.textContent = '';
  area.dataset.count = columns.length;
  columns.forEach((column, index) => {
    const box = element('section', 'column');
    box.dataset.index = index;
    box.appendChild(element('h2', '', column.title));
    const verdict = element('pre', 'verdict');
    if (column.verdict) {
      verdict.textContent = column.verdict.stdout + column.verdict.stderr;
      verdict.classList.add(column.verdict.status === 0 ? 'ok' : 'broken');
    }
    const stderr = element('pre', 'stderr');
    const result = column.result;
    if (result) {
      stderr.textContent = result.stderr;
      if (result.status !== 0) {
        stderr.textContent += `(exit status ${result.status}${result.status === 1 ? '' : ': no run'})`;
      }
    }
    if (column.trace && column.trace.problems.length > 0) {
      stderr.textContent += `The page reads this trace with gaps: ${column.trace.problems.join('; ')}.\n`;
    }
    const svg = document.createElementNS(SVG_NS, 'svg');
    svg.classList.add('diagram-view');
    svg.addEventListener('click', (event) => clickDiagram(column, event));
    svg.addEventListener('wheel', (event) => {
      event.preventDefault();
      lab.t0 += (event.deltaY > 0 ? 1 : -1) * lab.span / 8;
      render();
    }, {passive: false});
    const state = element('div', 'state');
    const output = element('details', 'output');
    output.appendChild(element('summary', '', 'Output: the acknowledged lines and the summary'));
    const lines = element('pre', 'lines');
    output.appendChild(lines);
    const summary = element('pre', 'summary');
    if (result) {
      const all = result.stdout.split('\n');
      summary.textContent = all.filter((l) => l.startsWith('summary:')).join('\n');
      const shown = all.length > 2001 ? all.slice(0, 2000).join('\n') +
          `\n... ${all.length - 2001} lines more: save the output to read them` : result.stdout;
      lines.textContent = shown;
    }
    const saves = element('div', 'saves');
    if (result) {
      saves.appendChild(saveButton('Save output', 'output.txt', result.stdout));
      const files = result.files;
      for (const [key, name] of Object.entries(column.run.files)) {
        if (files[name]) saves.appendChild(saveButton(`Save ${key}`, name, files[name]));
      }
    }
    const selected = element('pre', 'selected');
    // The state beside the diagram where the column is wide enough, under
    // it where not (render chooses).
    const view = element('div', 'view');
    view.append(svg, selected);
    const pair = element('div', 'pair');
    pair.append(view, state);
    box.append(stderr, summary, verdict, pair, output, saves);
    area.appendChild(box);
    Object.assign(column, {box, svg, stateBox: state, selected});
  });
  const end = Math.max(0, ...columns.map((c) => (c.trace ? c.trace.duration : 0)));
  lab.end = end;
  $('seek').max = String(end);
  $('seek').step = 'any';
  if (!(lab.clock <= end)) lab.clock = end;
  if (lab.span > end && end > 0) lab.span = Math.max(2, end);
  for (const column of columns) column.row = column.trace ? column.trace.rowAt(lab.clock) : -1;
  $('clicks').textContent = clicksNote(columns);
  render();
}

/// What a click on a frame does in `columns`, said above them.
function clicksNote(columns) {
  if (lab.mode !== 'runs') return 'A click on a frame or a mark names its row.';
  const drawn = columns.filter((c) => c.trace);
  if (drawn.length === 0) return '';
  const deaf = drawn.filter((c) => !readsDrop(c)).map((c) => c.title);
  const none = deaf.length > 0 ? ` (${deaf.join(', ')} reads no drop list, and loses nothing by it)` : '';
  if (drawn.length === 1 && deaf.length === 1) {
    return `A click on a frame names its row; ${deaf[0]} reads no drop list, so it loses nothing by a click.`;
  }
  const one = 'Click a data frame or an ACK to lose it: the scenario runs again with that frame lost, ' +
      `named in ${LAB_DROP} by its place among the frames of its kind on the link, and everything ` +
      'after it as it then happens; click a frame the list lost to let it through.';
  if (drawn.length === 1) return one;
  return `${one} Side by side, the one drop list is every protocol's: a click on the N-th data frame ` +
      'or ACK on the link in one diagram loses the N-th of that kind in each, whichever packet ' +
      `it holds there${none}.`;
}

/// True when `column`'s protocol reads the drop list, by linksim-arq's table.
function readsDrop(column) {
  const drop = labVariable(LAB_DROP);
  const protocol = column.run && column.run.protocol;
  return Boolean(drop && protocol && labReads(drop, protocol.name));
}

/// "1st", "2nd", "3rd", "4th", ..., "11th", "21st".
function ordinal(n) {
  const teen = n % 100 >= 11 && n % 100 <= 13;
  return n + (teen ? 'th' : ['th', 'st', 'nd', 'rd'][n % 10] || 'th');
}

/// The frame `kind`:`nth` in words: "the 3rd data frame on the link".
function frameWords(kind, nth) {
  return `the ${ordinal(nth)} ${kind === 'ack' ? 'ACK' : kind + ' frame'} on the link`;
}

function saveButton(label, name, text) {
  const button = element('button', '', label);
  button.addEventListener('click', () => save(new Blob([text], {type: 'text/plain'}), name));
  return button;
}

function save(blob, name) {
  const link = element('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

/// A click on a frame of a run loses it: the drop list names it, and the
/// scenario runs again. A click on a frame the list lost lets it through.
/// A frame the channel's own draw lost cannot be let through (a drop list
/// only adds losses), and a protocol that reads no drop list loses nothing
/// by one: both are said, and nothing runs. A click on anything names its
/// row.
function clickDiagram(column, event) {
  const target = event.target.closest('[data-line]');
  if (!target) return;
  const line = Number(target.dataset.line);
  column.selected.textContent = `line ${line}: ${column.trace.rowText(line - 2)}`;
  if (!target.classList.contains('frame') || lab.mode !== 'runs') return;
  const frame = column.trace.frames[column.trace.frameOfRow[line - 2]];
  const kind = target.dataset.kind;
  const nth = Number(target.dataset.nth);
  const drop = lab.scenario.variables.get(LAB_DROP) || '';
  const listed = (parseDropList(drop).get(kind) || []).includes(nth);
  if (!readsDrop(column)) {
    $('status').textContent = `${column.title} reads no drop list (${LAB_DROP}): a click loses nothing there.`;
    return;
  }
  if (frame.lost && !listed) {
    const words = frameWords(kind, nth);
    $('status').textContent = `${words[0].toUpperCase()}${words.slice(1)} was lost by the channel's own draw ` +
        '(its loss and seed), not by the drop list: a drop list only adds losses, so it cannot ' +
        'let this frame through.';
    return;
  }
  const next = toggleDrop(drop, kind, nth);
  lab.scenario.setVariable(LAB_DROP, next === '' ? null : next);
  const label = `${kind} ${column.trace.sequence[frame.row]} (${column.trace.packet[frame.row]})`;
  const every = lab.columns.filter((c) => c.trace).length > 1;
  lab.note = `${listed ? 'Let through' : 'Lost'} ${kind}:${nth}, ${frameWords(kind, nth)}` +
      (every ? ` in every protocol shown; in ${column.title}, ${label}.` : `: ${label}.`);
  changed();
}

// --- The cursor and the view -------------------------------------------------

/// A column at least this wide (px) has its state beside its diagram, in
/// this width.
const LAB_STATE_BESIDE = 860;
const LAB_STATE_WIDTH = 300;

function render() {
  const started = performance.now();
  lab.t0 = Math.max(0, Math.min(lab.t0, Math.max(0, lab.end - lab.span * 0.5)));
  const drops = parseDropList(lab.scenario ? lab.scenario.variables.get(LAB_DROP) : '');
  const inner = Math.floor($('columns').clientWidth / Math.max(1, lab.columns.length)) - 16;
  const beside = inner >= LAB_STATE_BESIDE;
  const width = Math.max(260, beside ? inner - LAB_STATE_WIDTH - 10 : inner);
  const height = Math.max(320, Math.floor(window.innerHeight * 0.62));
  lab.columns.forEach((column, index) => {
    column.box.classList.toggle('beside', beside);
    if (!column.trace) {
      column.svg.style.display = 'none';
      column.stateBox.textContent = 'No trace: the run did not happen.';
      return;
    }
    column.svg.style.display = '';
    drawDiagram(column.svg, column.trace, {
      t0: lab.t0, t1: lab.t0 + lab.span, cursor: lab.clock, row: column.row,
      width, height, landscape: false,
      drops: lab.mode === 'runs' && readsDrop(column) ? drops : new Map(),
      named: column.named, idPrefix: `c${index}`, words: column.words,
      answers: lab.mode === 'runs' ? lab.answerLines : null,
    });
    showState(column);
  });
  $('seek').value = String(Number.isFinite(lab.clock) ? lab.clock : lab.end);
  $('clock').value = String(+(Number.isFinite(lab.clock) ? lab.clock : lab.end).toFixed(6));
  $('span').textContent = `${+lab.span.toFixed(3)} ticks on screen`;
  $('play').textContent = lab.playing ? 'Pause' : 'Play';
  lab.lastRender = performance.now() - started;
}

/// Moves the cursor to `clock`, every column to its last row by then.
function seek(clock) {
  lab.clock = Math.max(0, Math.min(clock, lab.end));
  for (const column of lab.columns) {
    if (column.trace) column.row = column.trace.rowAt(lab.clock);
  }
  follow();
  render();
}

/// Keeps the cursor on screen.
function follow() {
  if (lab.clock < lab.t0 || lab.clock > lab.t0 + lab.span) {
    lab.t0 = Math.max(0, lab.clock - lab.span * 0.2);
  }
}

/// One event forward (+1) or back (-1): the next row of whichever column
/// has the soonest, or the latest row of whichever has the latest.
function step(direction) {
  stop();
  const traced = lab.columns.filter((c) => c.trace);
  if (direction > 0) {
    const next = (c) => (c.row + 1 < c.trace.count ? c.trace.clock[c.row + 1] : Infinity);
    const soonest = Math.min(...traced.map(next));
    if (soonest === Infinity) return render();
    for (const c of traced) if (next(c) === soonest) ++c.row;
    lab.clock = soonest;
  } else {
    const current = (c) => (c.row >= 0 ? c.trace.clock[c.row] : -Infinity);
    const latest = Math.max(...traced.map(current));
    if (latest === -Infinity) return render();
    for (const c of traced) if (current(c) === latest) --c.row;
    lab.clock = Math.max(0, ...traced.map(current).filter(Number.isFinite));
  }
  follow();
  render();
}

/// Moves the cursor to line `line` of `column`'s trace, and names its row.
function seekLine(column, line) {
  const row = line - 2;
  if (row < 0 || row >= column.trace.count) return;
  seek(column.trace.clock[row]);
  column.row = Math.max(column.row, row);
  column.selected.textContent = `line ${line}: ${column.trace.rowText(row)}`;
  render();
}

function play() {
  if (lab.playing) {
    stop();
    render();
    return;
  }
  if (lab.clock >= lab.end) seek(0);
  lab.playing = true;
  let last = performance.now();
  lab.frameTimes = [];  // between frames, and each frame's own work
  lab.renderTimes = [];
  const tick = (now) => {
    if (!lab.playing) return;
    lab.frameTimes.push(now - last);
    const clock = lab.clock + (now - last) / 1000 * lab.speed;
    last = now;
    if (clock >= lab.end) {
      lab.playing = false;
      seek(lab.end);
      return;
    }
    lab.clock = clock;
    for (const column of lab.columns) {
      if (column.trace) column.row = column.trace.rowAt(clock);
    }
    if (lab.clock > lab.t0 + lab.span * 0.9) lab.t0 = lab.clock - lab.span * 0.1;
    render();
    lab.renderTimes.push(lab.lastRender);
    requestAnimationFrame(tick);
  };
  render();
  requestAnimationFrame(tick);
}

/// Pauses; the caller draws what it changes with it.
function stop() {
  lab.playing = false;
}

function zoom(factor) {
  const centre = Number.isFinite(lab.clock) && lab.clock >= lab.t0 && lab.clock <= lab.t0 + lab.span ?
      lab.clock : lab.t0 + lab.span / 2;
  lab.span = Math.max(2, Math.min(Math.max(lab.end, 2), lab.span * factor));
  lab.t0 = Math.max(0, centre - lab.span / 2);
  render();
}

// --- The state panel ---------------------------------------------------------

/// The state of `column`'s protocol at the cursor, from its trace alone.
function showState(column) {
  const box = column.stateBox;
  box.textContent = '';
  const s = column.trace.stateAt(column.row, column.known);
  const k = column.known;
  const bits = k.sequenceBits ? Number(k.sequenceBits) : null;
  const seq = (p) => (bits !== null && bits < 31 ? p % Math.pow(2, bits) : p);
  const add = (title, text) => {
    const p = element('p');
    p.appendChild(element('b', '', title + ' '));
    p.appendChild(document.createTextNode(text));
    box.appendChild(p);
    return p;
  };
  add('At', `clock ${s.clock}${column.row >= 0 ? `, line ${column.row + 2}` : ', before the first row'}.`);
  add('Sender:', `base ${s.base} (the oldest packet not acknowledged), next ${s.next} (the next not yet sent; ` +
      'a packet waiting in the window unsent is not in a trace), window ' +
      (k.window ? `${k.window} (the run's setting)` : 'the trace does not tell') + '.');
  const cells = element('div', 'cells');
  for (const w of s.window) {
    const cell = element('span', `cell ${w.state}`, `${w.packet}`);
    cell.title = {acked: 'its ACK arrived; it leaves the window in order',
      flying: 'a data frame of it is on the link', sent: 'sent, not yet acknowledged'}[w.state];
    cells.appendChild(cell);
  }
  if (s.windowMore > 0) cells.appendChild(element('span', 'more', `and ${s.windowMore} more`));
  if (s.window.length === 0) cells.appendChild(element('span', 'more', 'nothing sent and unacknowledged'));
  box.appendChild(cells);
  if (bits !== null && bits <= 6) {
    add('Sequence numbers', `modulo 2^${bits} = ${Math.pow(2, bits)}, wrapping:`);
    const ring = element('div', 'cells ring');
    const inWindow = new Set(s.window.map((w) => seq(w.packet)));
    for (let n = 0; n < Math.pow(2, bits); ++n) {
      const cell = element('span', 'cell' + (inWindow.has(n) ? ' sent' : '') +
          (n === seq(s.expected) ? ' expected' : ''), `${n}`);
      ring.appendChild(cell);
    }
    box.appendChild(ring);
  } else if (bits !== null) {
    add('Sequence numbers:', `modulo 2^${bits}, ${bits === 31 ? 'the packets\' own numbers' : 'too many to show'}.`);
  } else {
    add('Sequence numbers:', 'the trace does not tell k; frames show the numbers they carry.');
  }
  add('Receiver:', `expects packet ${s.expected}${bits !== null ? ` (sequence number ${seq(s.expected)})` : ''}; ` +
      (s.held.length > 0 ? `holds ${s.held.join(', ')} for later.` : 'holds no frame for later.'));
  add('Timers:', 'a trace records a timer firing, not starting or stopping, so which run cannot be told' +
      (k.timeout ? `; the timeout is ${+Number(k.timeout).toFixed(6)} ticks` : k.timeout === '' ? '; this protocol has no timer' : '') +
      (s.lastTimeout ? `; the last fired at ${s.lastTimeout.clock}, for packet ${s.lastTimeout.packet}.` : '; none has fired.'));
  if (s.inFlight.length > 0) {
    add('On the link:', s.inFlight.slice(0, 12).map((f) =>
      `${column.trace.kinds[f.kind]} ${column.trace.sequence[f.row]} (${column.trace.packet[f.row]})` +
      ` from the ${f.from === 0 ? 'source' : 'sink'}`).join('; ') + (s.inFlight.length > 12 ? '; ...' : '.'));
  }
  const c = s.counts;
  add('So far:', `${c.acknowledged} acknowledged, ${c.delivered} delivered` +
      (c.misdelivered > 0 ? ` (${c.misdelivered} out of order)` : '') +
      `; data frames ${c.dataSent} sent, ${c.dataResent} again, ${c.dataLost} lost; ` +
      `ACKs ${c.acksSent} sent, ${c.acksLost} lost` +
      (c.ownSent > 0 ? `; other frames ${c.ownSent} sent, ${c.ownLost} lost` : '') +
      `; ${c.timeouts} timeout${c.timeouts === 1 ? '' : 's'}.`);
}

// --- Pictures -------------------------------------------------------------------

/// The stretch on screen as a picture: an SVG document, every column side
/// by side (portrait) or one above the other (landscape), each with its
/// title and legend.
function pictureSvg(landscape) {
  const columns = lab.columns.filter((c) => c.trace);
  const width = landscape ? 1400 : 620;
  const height = landscape ? 560 : 1100;
  const svg = document.createElementNS(SVG_NS, 'svg');
  svg.setAttribute('xmlns', SVG_NS);
  const total = [landscape ? width : width * columns.length, landscape ? height * columns.length : height];
  svg.setAttribute('width', total[0]);
  svg.setAttribute('height', total[1]);
  svg.setAttribute('viewBox', `0 0 ${total[0]} ${total[1]}`);
  svgElement(svg, 'style', {}, DIAGRAM_STYLE);
  svgElement(svg, 'rect', {x: 0, y: 0, width: total[0], height: total[1], fill: '#fff'});
  const variables = lab.mode === 'runs' ?
      lab.scenario.orderedVariables().map(([n, v]) => `${n}=${v}`).join(' ') : '';
  const link = lab.mode === 'runs' ?
      lab.scenario.linkDefaults.map(([key]) => `${key} ${lab.scenario.linkValue(key)}`).join(', ') : '';
  const drops = parseDropList(lab.mode === 'runs' ? lab.scenario.variables.get(LAB_DROP) : '');
  columns.forEach((column, i) => {
    const inner = svgElement(svg, 'svg', {x: landscape ? 0 : i * width, y: landscape ? i * height : 0});
    const stretch = `clock ${+lab.t0.toFixed(3)} to ${+(lab.t0 + lab.span).toFixed(3)}`;
    const title = lab.mode === 'runs' ?
        `${column.run.protocol ? column.run.protocol.title : column.title}, from its trace (${stretch})\n` +
        `${variables || 'no variable set'}\n${link}` :
        `The trace ${column.title} (${stretch})`;
    drawDiagram(inner, column.trace, {
      t0: lab.t0, t1: lab.t0 + lab.span, cursor: lab.clock, row: column.row,
      width, height, landscape, drops: readsDrop(column) ? drops : new Map(), named: column.named,
      idPrefix: `p${i}`, words: column.words, title, legend: true,
    });
  });
  return svg;
}

/// The picture as a Blob: 'svg' or 'png'.
function exportPicture(format, orientation) {
  const svg = pictureSvg(orientation === 'landscape');
  const text = new XMLSerializer().serializeToString(svg);
  const blob = new Blob([text], {type: 'image/svg+xml'});
  if (format === 'svg') return Promise.resolve(blob);
  return new Promise((resolve, reject) => {
    const image = new Image();
    image.onload = () => {
      const canvas = element('canvas');
      canvas.width = image.width;
      canvas.height = image.height;
      canvas.getContext('2d').drawImage(image, 0, 0);
      canvas.toBlob(resolve, 'image/png');
    };
    image.onerror = () => reject(new Error('the picture could not be drawn'));
    image.src = 'data:image/svg+xml;charset=utf-8,' + encodeURIComponent(text);
  });
}

// --- Start ---------------------------------------------------------------------

function readAddress() {
  lab.scenario = Scenario.fromFragment(location.hash.replace(/^#/, ''), linkDefaults());
  lab.exercise = lab.scenario.exercise === null ? null :
    new LabExercise(lab.scenario.exercise, lab.scenario.student);
  lab.answerLines = null;
  showScenario();
  showExercise();
}

/// Runs the address's scenario, or opens its exercise.
function runAddress() {
  return lab.exercise ? openExercise() : runScenario();
}

function bindControls() {
  $('play').addEventListener('click', play);
  $('back').addEventListener('click', () => step(-1));
  $('forward').addEventListener('click', () => step(1));
  $('zoom-in').addEventListener('click', () => zoom(0.5));
  $('zoom-out').addEventListener('click', () => zoom(2));
  $('speed').addEventListener('change', () => {
    lab.speed = Number($('speed').value);
  });
  $('seek').addEventListener('input', () => {
    stop();
    seek(Number($('seek').value));
  });
  $('clock').addEventListener('change', () => {
    const clock = Number($('clock').value);
    if (Number.isFinite(clock)) seek(clock);
  });
  $('copy-command').addEventListener('click', () => copy($('command').textContent));
  $('copy-link').addEventListener('click', () => copy(location.href));
  $('open-settings').addEventListener('change', async (event) => {
    const file = event.target.files[0];
    if (!file) return;
    const text = await file.text();
    const keys = new Map(lab.scenario.linkDefaults.map(([key]) => [key.toLowerCase(), key]));
    const found = new Set();
    for (const [written, value] of labLinkSettings(text)) {
      const key = keys.get(written.trim().split(/\s+/).join(' ').toLowerCase());
      if (key) {
        lab.scenario.setLink(key, value);
        found.add(key);
      }
    }
    const missing = [...keys.values()].filter((k) => !found.has(k));
    // Said after the run it starts, which would write over it.
    lab.note = `Read ${file.name}` +
        (missing.length > 0 ? `; it does not set ${missing.join(', ')}, which keep their values.` : '.');
    event.target.value = '';
    changed();
  });
  $('open-trace').addEventListener('change', async (event) => {
    const file = event.target.files[0];
    if (!file) return;
    event.target.value = '';
    await openTrace(file.name, await file.text());
  });
  $('back-to-runs').addEventListener('click', () => runScenario());
  for (const format of ['svg', 'png']) {
    $(`save-${format}`).addEventListener('click', async () => {
      const blob = await exportPicture(format, $('orientation').value);
      save(blob, `linksim-lab-${$('orientation').value}.${format}`);
    });
  }
  document.addEventListener('keydown', (event) => {
    if (event.target.closest && event.target.closest('input, select, textarea')) return;
    const keys = {
      ' ': play, ArrowRight: () => step(1), ArrowDown: () => step(1),
      ArrowLeft: () => step(-1), ArrowUp: () => step(-1), '+': () => zoom(0.5),
      '=': () => zoom(0.5), '-': () => zoom(2), Home: () => seek(0), End: () => seek(lab.end),
    };
    if (keys[event.key] && !event.ctrlKey && !event.metaKey && !event.altKey) {
      event.preventDefault();
      keys[event.key]();
    }
  });
  window.addEventListener('hashchange', () => {
    readAddress();
    runAddress();
  });
  window.addEventListener('resize', () => render());
}

async function copy(text) {
  try {
    await navigator.clipboard.writeText(text);
    $('status').textContent = 'Copied.';
  } catch (error) {
    $('status').textContent = 'The browser would not copy: select the text and copy it.';
  }
}

/// The controls are made from linksim-arq's table, so they wait for the
/// engine.
async function start() {
  document.head.appendChild(element('style', '', DIAGRAM_STYLE));
  $('status').textContent = 'Starting the engine...';
  await Engine.load();
  labReadTable(Engine.table());
  buildControls();
  bindControls();
  bindExercise();
  readAddress();
  await runAddress();
}

window.lab = lab;
lab.exportPicture = exportPicture;
lab.openTrace = openTrace;
lab.seek = seek;
document.addEventListener('DOMContentLoaded', start);
