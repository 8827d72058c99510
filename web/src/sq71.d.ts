// The module emscripten makes of web/sq71_web.cpp: its calls as the page uses them.
export interface Sq71Module {
  HEAPU8: Uint8Array<ArrayBuffer>;
  onMessage?: (number: number, text: string, error: boolean) => void;
  meters?: object;
  ccall(name: string, returnType: 'number' | null, argTypes: string[], args: unknown[],
    options?: { async: boolean }): number | Promise<number>;
  UTF8ToString(pointer: number): string;
  _sq71_size(): number;
  _sq71_message_text(number: number): number;
  _sq71_version(): number;
  _sq71_scratch(): number;
  _sq71_image(): number;
  _sq71_load(size: number): number;
  _sq71_entry_count(): number;
  _sq71_rows(): number;
  _sq71_csv(): number;
  _sq71_json(): number;
  _sq71_progress(): number;
  _sq71_next_record(): number;
  _sq71_read_stop(keep: number): void;
  _sq71_choose(kind: number): void;
  _sq71_partial_identity(): number;
  _sq71_trace_start(): void;
  _sq71_trace_text(): number;
}

export default function createSq71(options?: Partial<Sq71Module>): Promise<Sq71Module>;
