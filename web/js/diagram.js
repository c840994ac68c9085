'use strict';
// The time-sequence diagram of one trace, drawn as SVG: the source and the
// sink as two time axes, time running down (portrait, as on screen) or
// right (landscape, for slides); each frame a line from its sender when it
// was put on the link to its receiver when that saw it, a lost one stopping
// halfway at a cross; and what each node did, in the protocol's own words.
// Only the stretch of time asked for is drawn, so a long trace costs what is
// on screen. Up to the cursor's clock: a frame still on its way is drawn as
// far as it has gone, and nothing later is drawn at all.
//
// Every frame drawn is a <g class="frame"> with data-line, the line of its
// send or resend row in the trace file (the header is line 1), and
// data-end-line, that of the row where it arrived; data-kind and data-nth
// name it as a drop list does (the nth frame of its kind on the link), and
// one the drop list names has the class "dropped" where it was lost, as
// the list lost it, or "to-lose" where it was not (it never arrived). What
// a node did is a circle with its row's data-line. A frame or a circle
// whose row an exercise's answer comes from has the class "answer" and
// data-answers, the questions' numbers. Text from the trace is set as
// text, never read as markup.

const SVG_NS = 'http://www.w3.org/2000/svg';
const LABELLED_FRAMES = 160;  // more frames on screen than this: no labels

/// A new SVG element `name` with `attributes`, appended to `parent`.
function svgElement(parent, name, attributes = {}, text = null) {
  const element = document.createElementNS(SVG_NS, name);
  for (const [key, value] of Object.entries(attributes)) {
    element.setAttribute(key, value);
  }
  if (text !== null) element.textContent = text;
  if (parent) parent.appendChild(element);
  return element;
}

/// A tick step of 1, 2 or 5 times a power of ten giving about `count` ticks
/// over `span`.
function tickStep(span, count) {
  const rough = span / count;
  const power = Math.pow(10, Math.floor(Math.log10(rough)));
  for (const factor of [1, 2, 5, 10]) {
    if (factor * power >= rough) return factor * power;
  }
  return 10 * power;
}

/// The legend's entries for `words`, [class, text]; `dropping`: frames the
/// drop list lost have an entry.
function legendEntries(words, kinds, dropping) {
  const entries = [['data', 'data frame'], ['resend', 'data frame sent again'],
    ['ack', words.ack]];
  for (const kind of kinds.slice(2)) entries.push(['own', `${kind} frame`]);
  entries.push(['lost', 'lost']);
  if (dropping) entries.push(['dropped', 'lost by the drop list (a click)']);
  entries.push(['deliver', 'delivered'],
      ['wrong', 'delivered out of order (wrong)'],
      ['acknowledged', 'acknowledged'], ['timeout', words.timeout],
      ['discard', words.discard], ['buffer', words.buffer]);
  return entries;
}

const MARK_WORDS = {
  [EV_DELIVER]: ['deliver', 'delivered', 1],
  [EV_ACKNOWLEDGED]: ['acknowledged', 'acknowledged', 0],
  [EV_TIMEOUT]: ['timeout', 'timeout', 0],
  [EV_DISCARD]: ['discard', 'discarded', 1],
  [EV_BUFFER]: ['buffer', 'buffered', 1],
};

/// Draws `trace` into `svg` (emptied first). `view`: t0, t1 (the clocks at
/// the edges), cursor (a clock; Infinity for all), row (the last row
/// happened), width, height, landscape, drops (a Map of kind name -> array
/// of nth), named (a line to highlight, or null), title and legend (for a
/// picture), idPrefix (unique per SVG), words (the protocol's), and
/// answers (a Map of line -> the questions answered from it, or null).
function drawDiagram(svg, trace, view) {
  while (svg.firstChild) svg.removeChild(svg.firstChild);
  const {width, height, landscape} = view;
  svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
  svg.setAttribute('width', width);
  svg.setAttribute('height', height);
  const root = svgElement(svg, 'g', {class: 'diagram'});
  const defs = svgElement(root, 'defs');
  const arrowId = `${view.idPrefix}-arrow`;
  const arrow = svgElement(defs, 'marker', {
    id: arrowId, viewBox: '0 0 10 10', refX: 9, refY: 5, markerWidth: 7,
    markerHeight: 7, orient: 'auto-start-reverse',
  });
  svgElement(arrow, 'path', {d: 'M0,0 L10,5 L0,10 z', fill: 'context-stroke', class: 'head'});

  let top = 34;
  let bottom = height - 10;
  if (view.title) {
    const lines = view.title.split('\n');
    lines.forEach((line, i) => svgElement(root, 'text', {
      x: width / 2, y: 20 + i * 16, 'text-anchor': 'middle',
      class: i === 0 ? 'title' : 'subtitle',
    }, line));
    top += 16 * lines.length;
  }
  let legend = [];
  if (view.legend) {
    legend = legendEntries(view.words, trace.kinds, view.drops && view.drops.size > 0);
    bottom -= 18 * Math.ceil(legend.length / 3) + 8;
  }
  const left = 70;
  const right = width - 12;
  // Where a node's axis is, as a fraction of the way from source to sink,
  // at clock t.
  let point;
  let nodeLabel;
  const t0 = view.t0;
  const t1 = view.t1;
  if (!landscape) {
    const xs = left + (right - left) * 0.3;
    const xk = left + (right - left) * 0.7;
    const k = (bottom - top) / (t1 - t0);
    point = (f, t) => [xs + f * (xk - xs), top + (t - t0) * k];
    nodeLabel = (f) => [xs + f * (xk - xs), top - 8, 'middle'];
  } else {
    const ys = top + (bottom - top) * 0.3;
    const yk = top + (bottom - top) * 0.7;
    const k = (right - left) / (t1 - t0);
    point = (f, t) => [left + (t - t0) * k, ys + f * (yk - ys)];
    nodeLabel = (f) => [left - 8, ys + f * (yk - ys) + 4, 'end'];
  }
  const line = (parent, attributes, a, b) => svgElement(parent, 'line', Object.assign(
      {x1: a[0], y1: a[1], x2: b[0], y2: b[1]}, attributes));

  // The time axis and its grid.
  const axis = svgElement(root, 'g', {class: 'axis'});
  const step = tickStep(t1 - t0, landscape ? 12 : 10);
  for (let t = Math.ceil(t0 / step) * step; t <= t1 + 1e-9; t += step) {
    const [x, y] = point(0, t);
    if (!landscape) {
      line(axis, {class: 'grid'}, [left, y], [right, y]);
      svgElement(axis, 'text', {x: left - 6, y: y + 4, 'text-anchor': 'end'}, `${+t.toFixed(6)}`);
    } else {
      line(axis, {class: 'grid'}, [x, top], [x, bottom]);
      svgElement(axis, 'text', {x, y: bottom + 14, 'text-anchor': 'middle'}, `${+t.toFixed(6)}`);
    }
  }
  for (const [f, name] of [[0, 'source'], [1, 'sink']]) {
    line(root, {class: 'node'}, point(f, t0), point(f, t1));
    const [x, y, anchor] = nodeLabel(f);
    svgElement(root, 'text', {x, y, 'text-anchor': anchor, class: 'node-name'}, name);
  }

  // Frames and marks stay inside the stretch drawn.
  const clipId = `${view.idPrefix}-clip`;
  const clip = svgElement(defs, 'clipPath', {id: clipId});
  const [cx0, cy0] = point(-0.6, t0);
  const [cx1, cy1] = point(1.6, t1);
  svgElement(clip, 'rect', {x: Math.min(cx0, cx1) - 200, y: Math.min(cy0, cy1) - 4,
    width: Math.abs(cx1 - cx0) + 400, height: Math.abs(cy1 - cy0) + 8});
  if (landscape) {
    clip.firstChild.setAttribute('x', Math.min(cx0, cx1) - 4);
    clip.firstChild.setAttribute('width', Math.abs(cx1 - cx0) + 8);
    clip.firstChild.setAttribute('y', top - 40);
    clip.firstChild.setAttribute('height', bottom - top + 80);
  }
  const cursor = view.cursor;
  const row = view.row;
  const frames = svgElement(root, 'g', {class: 'frames', 'clip-path': `url(#${clipId})`});
  const shown = trace.framesBetween(t0, t1);
  const labelled = shown.length <= LABELLED_FRAMES;
  const drops = view.drops || new Map();
  const answers = view.answers || new Map();
  /// The questions answered from `lines`, as data-answers gives them.
  const answered = (...lines) => lines.flatMap((l) => answers.get(l) || []).join(' ');
  for (const i of shown) {
    const f = trace.frames[i];
    if (f.row > row) continue;
    const kindName = trace.kinds[f.kind];
    const style = f.kind === 0 ? (f.resend ? 'resend' : 'data') : f.kind === 1 ? 'ack' : 'own';
    const arrived = f.end >= 0 && f.end <= row;
    const from = f.from;
    const to = f.lost ? 0.5 : 1 - from;
    const stopClock = f.lost ? (f.start + f.stop) / 2 : f.stop;
    const a = point(from, f.start);
    let b = point(to, stopClock);
    if (!arrived) {
      // On its way: as far as it has gone by the cursor's clock.
      const span = f.stop - f.start;
      const gone = span > 0 ? Math.min(1, Math.max(0, (cursor - f.start) / span)) : 1;
      b = [a[0] + (b[0] - a[0]) * gone, a[1] + (b[1] - a[1]) * gone];
    }
    const listed = (drops.get(kindName) || []).includes(f.nth);
    const dropped = listed && f.lost;
    const g = svgElement(frames, 'g', {
      class: `frame ${style}${f.lost ? ' lost' : ''}${dropped ? ' dropped' : listed ? ' to-lose' : ''}` +
          (view.named === f.row + 2 || (f.end >= 0 && view.named === f.end + 2) ? ' named' : ''),
      'data-line': f.row + 2, 'data-kind': kindName, 'data-nth': f.nth,
    });
    if (f.end >= 0) g.setAttribute('data-end-line', f.end + 2);
    const questions = answered(f.row + 2, f.end >= 0 ? f.end + 2 : 0);
    if (questions !== '') {
      g.classList.add('answer');
      g.setAttribute('data-answers', questions);
    }
    line(g, {class: 'hit'}, a, b);
    line(g, {class: 'arrow', 'marker-end': arrived && !f.lost ? `url(#${arrowId})` : 'none'}, a, b);
    if (arrived && f.lost) {
      const [x, y] = b;
      svgElement(g, 'path', {class: 'cross', d: `M${x - 6},${y - 6}L${x + 6},${y + 6}M${x - 6},${y + 6}L${x + 6},${y - 6}`});
    }
    const name = `${kindName} ${trace.sequence[f.row]} (${trace.packet[f.row]})` +
        (f.resend ? ' again' : '') +
        (dropped ? ` \u2013 lost by ${kindName}:${f.nth}` : listed ? ` \u2013 ${kindName}:${f.nth}, to lose` : '');
    svgElement(g, 'title', {}, `${name}: line ${f.row + 2}, ${kindName} frame ${f.nth} on the link` +
        (dropped ? ', lost by the drop list' : ''));
    if (labelled) {
      const full = point(to, stopClock);
      const at = 0.25;
      svgElement(g, 'text', {
        x: a[0] + (full[0] - a[0]) * at, y: a[1] + (full[1] - a[1]) * at - 3,
        'text-anchor': 'middle', class: 'label',
      }, name);
    }
  }

  // What the nodes did: a circle per row, one label per event and tick.
  const marks = svgElement(root, 'g', {class: 'marks', 'clip-path': `url(#${clipId})`});
  const groups = new Map();
  for (const r of trace.marksBetween(t0, t1)) {
    if (r > row) break;
    const event = trace.event[r];
    const [style, word, node] = MARK_WORDS[event];
    const wrong = event === EV_DELIVER && trace.wrong[r] === 1;
    const [x, y] = point(node, trace.clock[r]);
    const circle = svgElement(marks, 'circle', {
      cx: x, cy: y, r: 4, class: `mark ${wrong ? 'wrong' : style}` +
          (view.named === r + 2 ? ' named' : ''),
      'data-line': r + 2,
    });
    if (answered(r + 2) !== '') {
      circle.classList.add('answer');
      circle.setAttribute('data-answers', answered(r + 2));
    }
    svgElement(circle, 'title', {}, `line ${r + 2}: ${trace.rowText(r)}`);
    const key = `${event},${wrong},${trace.clock[r]}`;
    if (!groups.has(key)) groups.set(key, {x, y, node, style: wrong ? 'wrong' : style, word: wrong ? 'delivered out of order' : word, packets: []});
    groups.get(key).packets.push(trace.packet[r]);
  }
  if (labelled) {
    for (const group of groups.values()) {
      const out = group.node === 0 ? -1 : 1;
      const attributes = landscape ?
          {x: group.x, y: group.y + out * 16, 'text-anchor': 'middle'} :
          {x: group.x + out * 9, y: group.y + 4, 'text-anchor': out < 0 ? 'end' : 'start'};
      attributes.class = `mark-label ${group.style}`;
      svgElement(marks, 'text', attributes, `${group.word} ${group.packets.join(', ')}`);
    }
  }

  // A line that names no frame or mark drawn, as the checker's may: a band.
  if (view.named !== null && view.named !== undefined && !root.querySelector('.named')) {
    const r = view.named - 2;
    if (r >= 0 && r < trace.count && trace.clock[r] >= t0 && trace.clock[r] <= t1) {
      const g = svgElement(root, 'g', {class: 'named-row named', 'data-line': view.named});
      line(g, {}, point(-0.4, trace.clock[r]), point(1.4, trace.clock[r]));
      svgElement(g, 'text', Object.assign({class: 'mark-label'},
          {x: point(1.4, trace.clock[r])[0], y: point(1.4, trace.clock[r])[1] - 4, 'text-anchor': 'end'}), `line ${view.named}`);
    }
  }

  if (Number.isFinite(cursor) && cursor >= t0 && cursor <= t1) {
    line(root, {class: 'cursor'}, point(-0.4, cursor), point(1.4, cursor));
  }

  if (view.legend) {
    const columns = 3;
    const cell = (width - 40) / columns;
    legend.forEach(([style, text], i) => {
      const x = 20 + (i % columns) * cell;
      const y = bottom + 26 + Math.floor(i / columns) * 18;
      const g = svgElement(root, 'g', {class: `legend ${style}`});
      if (['data', 'resend', 'ack', 'own'].includes(style)) {
        svgElement(g, 'line', {x1: x, y1: y - 4, x2: x + 26, y2: y - 4, class: `arrow frame-${style}`});
      } else if (style === 'lost' || style === 'dropped') {
        svgElement(g, 'path', {class: 'cross', d: `M${x + 7},${y - 10}L${x + 19},${y + 2}M${x + 7},${y + 2}L${x + 19},${y - 10}`});
      } else {
        svgElement(g, 'circle', {cx: x + 13, cy: y - 4, r: 4, class: `mark ${style}`});
      }
      svgElement(g, 'text', {x: x + 34, y}, text);
    });
  }
}

/// The style sheet an exported picture carries: what the page's sheet
/// says of the diagram, which a picture opened alone does not have.
const DIAGRAM_STYLE = `
text { font: 12px sans-serif; fill: #222; }
.title { font-size: 15px; font-weight: bold; }
.subtitle { font-size: 12px; fill: #444; }
.grid { stroke: #e4e4e4; }
.axis text { fill: #666; font-size: 11px; }
.node { stroke: #000; stroke-width: 3; }
.node-name { font-size: 14px; font-weight: bold; }
.frame .arrow, .legend .arrow { stroke-width: 1.6; fill: none; }
.frame.data .arrow, .frame-data { stroke: #1f6fb4; }
.frame.resend .arrow, .frame-resend { stroke: #7b3294; stroke-dasharray: 6 3; }
.frame.ack .arrow, .frame-ack { stroke: #1b9e77; }
.frame.own .arrow, .frame-own { stroke: #e7298a; }
.frame .hit { stroke: transparent; stroke-width: 10; }
.frame .label { font-size: 10px; fill: #333; paint-order: stroke; stroke: #fff; stroke-width: 3px; }
.frame.to-lose .arrow { stroke-width: 3; stroke-dasharray: 2 3; }
.cross { stroke: #d7191c; stroke-width: 3; fill: none; }
.frame.dropped .arrow { stroke-width: 3; }
.frame.dropped .cross, .legend.dropped .cross { stroke: #ff7f00; stroke-width: 4; }
.frame.dropped .label { fill: #b35400; font-weight: bold; }
.mark { stroke: #000; stroke-width: 1; }
.mark.deliver { fill: #000; }
.mark.wrong { fill: #d7191c; stroke: #d7191c; }
.mark.acknowledged { fill: #1b9e77; stroke: #1b9e77; }
.mark.timeout { fill: none; stroke: #d7191c; stroke-width: 2; }
.mark.discard { fill: none; stroke: #888; }
.mark.buffer { fill: none; stroke: #e08214; stroke-width: 2; }
.mark-label { font-size: 10px; paint-order: stroke; stroke: #fff; stroke-width: 3px; }
.mark-label.wrong, .mark-label.timeout { fill: #d7191c; }
.mark-label.acknowledged { fill: #1b9e77; }
.mark-label.discard { fill: #777; }
.mark-label.buffer { fill: #b35806; }
.cursor { stroke: #f0a000; stroke-width: 2; }
.frame.answer .arrow, .mark.answer { stroke: #8e44ad; stroke-width: 4; }
.named .arrow, .mark.named, .named-row line { stroke: #ffbf00 !important; stroke-width: 5 !important; }
`;
